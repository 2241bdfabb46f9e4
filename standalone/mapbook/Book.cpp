#include "standalone/mapbook/Book.h"

#include "support/Activation.h"

namespace crv::standalone {

namespace {

DocumentSurface& Checked(DocumentSurface& surface, const DocumentBook::PagesCheck& check) {
    if (check) check(surface.Range());
    return surface;
}

}  // namespace

DocumentBook::DocumentBook(Document& document, std::function<int()> reportsShown, const PagesCheck& beforeAnchoring)
    : surface(document),
      driver(
          Checked(surface, beforeAnchoring),
          [] { return CreateObjectByProgId<_CRVAnchorManager>(kAnchorManagerProgId); },
          std::move(reportsShown)) {}

}  // namespace crv::standalone
