#pragma once
// The host's page layout: the running application, its document, the layout view and
// page, the element container and the elements with their type tests.

#include "host/Data.h"
#include "host/Geometry.h"

#include <string>

namespace crv {

class ElementContainer;
class LayoutView;
class LayoutPage;

class LayoutElement : public Unknown {
public:
    static constexpr Guid IID = MakeGuid("356fedd1-d4bb-4ae4-84a7-283b5ba3dbac");
    virtual std::string Name() = 0;
    // The element's own custom value, saved with the document.
    virtual Variant CustomProperty() = 0;
    virtual void SetCustomProperty(const Variant& value) = 0;
    virtual void QueryBounds(const ComPtr<Display>& display, const ComPtr<Envelope>& bounds) = 0;
    virtual void QueryOutline(const ComPtr<Display>& display, const ComPtr<Polygon>& outline) = 0;
    virtual void Move(double dx, double dy) = 0;

protected:
    ~LayoutElement() = default;
};

// Type test: the element is a map frame.
class MapFrame : public Unknown {
public:
    static constexpr Guid IID = MakeGuid("b777f3e8-d57a-4523-99f4-bc91b8c84548");
    virtual std::string MapName() = 0;

protected:
    ~MapFrame() = default;
};

// Type test: a group whose members are walked.
class ElementSequence : public Unknown {
public:
    static constexpr Guid IID = MakeGuid("388c0b64-a6aa-4395-bfff-2f2d69945088");
    virtual void ResetMembers() = 0;
    // The next member; empty after the last.
    virtual ComPtr<LayoutElement> NextMember() = 0;

protected:
    ~ElementSequence() = default;
};

// Type test: a group whose members are indexed.
class ElementGroup : public Unknown {
public:
    static constexpr Guid IID = MakeGuid("f7b4dedd-9c93-4d79-bab6-66ff6490b775");
    virtual int32_t MemberCount() = 0;
    virtual ComPtr<LayoutElement> Member(int32_t index) = 0;

protected:
    ~ElementGroup() = default;
};

class ElementContainer : public Unknown {
public:
    static constexpr Guid IID = MakeGuid("21b8b7b2-5957-4f41-b5c9-79648ed753d9");
    virtual void Reset() = 0;
    // The next top-level element; empty after the last.
    virtual ComPtr<LayoutElement> Next() = 0;
    // The element moved or changed.
    virtual void UpdateElement(const ComPtr<LayoutElement>& element) = 0;

protected:
    ~ElementContainer() = default;
};

class LayoutPage : public Unknown {
public:
    static constexpr Guid IID = MakeGuid("c1a34465-bca9-4b0a-83be-b908938026c8");
    virtual void QuerySize(double& width, double& height) = 0;

protected:
    ~LayoutPage() = default;
};

class LayoutView : public Unknown {
public:
    static constexpr Guid IID = MakeGuid("5272d383-804b-4a3a-bad2-03bf2fecdd57");
    static constexpr int32_t kPhaseGraphics = 8;

    virtual ComPtr<LayoutPage> Page() = 0;
    virtual ComPtr<Display> ScreenDisplay() = 0;
    // Redraws `data` (an element) in the given phase, within `area` or everywhere when empty.
    virtual void PartialRefresh(int32_t phase, const ComPtr<Unknown>& data, const ComPtr<Envelope>& area) = 0;

protected:
    ~LayoutView() = default;
};

class HostDocument : public Unknown {
public:
    static constexpr Guid IID = MakeGuid("4bcd0041-11e0-4907-a3b1-b1387b830ba3");
    virtual ComPtr<ElementContainer> PageLayout() = 0;
    virtual ComPtr<LayoutView> ActiveView() = 0;
    // The active view's element container.
    virtual ComPtr<ElementContainer> ActiveViewContainer() = 0;

protected:
    ~HostDocument() = default;
};

class HostApplication : public Unknown {
public:
    static constexpr Guid IID = MakeGuid("84953066-20cf-47e8-875f-8b7a87046af8");
    // The open document.
    virtual ComPtr<HostDocument> Document() = 0;

protected:
    ~HostApplication() = default;
};

}  // namespace crv
