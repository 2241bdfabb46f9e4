#pragma once
// The map document as the book driver sees it: the host's layout (HostSurface) named and
// measured in the document's units, and the page drawn by whatever the command draws with.

#include "standalone/document/Document.h"
#include "standalone/host/HostSurface.h"

#include <functional>
#include <string>

namespace crv::standalone {

class DocumentSurface final : public HostSurface {
public:
    // The document must outlive the surface.
    explicit DocumentSurface(Document& document) : HostSurface(document.Host(), document.Units()) {}

    // Draws each page the book steps to, once it is placed.
    void SetDrawing(std::function<void(int32_t)> draw) { draw_ = std::move(draw); }
    void DrawPage(int32_t page) override {
        if (draw_) draw_(page);
    }

private:
    std::function<void(int32_t)> draw_;
};

}  // namespace crv::standalone
