#include "standalone/mapbook/Book.h"

#include "support/Activation.h"

namespace crv::standalone {

DocumentBook::DocumentBook(Document& document, std::function<int()> reportsShown)
    : surface(document),
      driver(
          surface, [] { return CreateObjectByProgId<_CRVAnchorManager>(kAnchorManagerProgId); },
          std::move(reportsShown)) {}

}  // namespace crv::standalone
