#include "standalone/host/Objects.h"

#include <algorithm>

namespace crv::standalone {

namespace {

// Every name a kind goes by: in the snapshot, as the report's type, and for a group how its
// members are reached, as a map document writes it.
struct KindNames {
    ElementKind kind;
    const char* snapshot;
    const char* type;
    const char* members_by;
};
constexpr KindNames kKindNames[] = {
    {ElementKind::Text, "text", "text", ""},
    {ElementKind::Picture, "picture", "picture", ""},
    {ElementKind::MapFrame, "map_frame", "map_frame", ""},
    {ElementKind::Group, "group", "group", "walk"},
    {ElementKind::IndexedGroup, "indexed_group", "group", "index"},
    {ElementKind::SequenceAndIndexedGroup, "sequence_and_indexed_group", "group", "both"},
};

const KindNames& NamesOf(ElementKind kind) {
    for (const KindNames& k : kKindNames) {
        if (k.kind == kind) return k;
    }
    return kKindNames[0];
}

}  // namespace

const char* ElementKindName(ElementKind kind) { return NamesOf(kind).snapshot; }

std::optional<ElementKind> ElementKindNamed(const std::string& name) {
    for (const KindNames& k : kKindNames) {
        if (name == k.snapshot) return k.kind;
    }
    return std::nullopt;
}

const char* ElementTypeName(ElementKind kind) { return NamesOf(kind).type; }

const char* GroupMembersBy(ElementKind kind) { return NamesOf(kind).members_by; }

std::optional<ElementKind> GroupKindOf(const std::string& membersBy) {
    for (const KindNames& k : kKindNames) {
        if (*k.members_by != '\0' && membersBy == k.members_by) return k.kind;
    }
    return std::nullopt;
}

ElementImpl::ElementImpl(ElementKind kind, std::string name, Rect rect, std::weak_ptr<HostState> state)
    : kind_(kind), name_(std::move(name)), rect_(rect), state_(std::move(state)) {}

bool ElementImpl::Exposes(const Guid& iid) const {
    if (iid == MapFrame::IID) return kind_ == ElementKind::MapFrame;
    if (iid == ElementSequence::IID) {
        return kind_ == ElementKind::Group || kind_ == ElementKind::SequenceAndIndexedGroup;
    }
    if (iid == ElementGroup::IID) {
        return kind_ == ElementKind::IndexedGroup || kind_ == ElementKind::SequenceAndIndexedGroup;
    }
    return true;
}

bool ElementImpl::IsGroup() const {
    return kind_ == ElementKind::Group || kind_ == ElementKind::IndexedGroup ||
           kind_ == ElementKind::SequenceAndIndexedGroup;
}

ElementImpl* ElementImpl::From(const ComPtr<Unknown>& object) {
    auto access = ComPtr<ElementAccess>::Query(object);
    return access ? access->HostElement() : nullptr;
}

Rect ElementImpl::OutlineRect() const {
    if (!IsGroup() || members_.empty()) return rect_;
    bool first = true;
    Rect r;
    for (const auto& m : members_) {
        const Rect b = From(ComPtr<Unknown>(m))->BoundsRect();
        if (first) {
            r = b;
            first = false;
        } else {
            r = {std::min(r.xmin, b.xmin), std::min(r.ymin, b.ymin), std::max(r.xmax, b.xmax),
                 std::max(r.ymax, b.ymax)};
        }
    }
    return r;
}

Rect ElementImpl::BoundsRect() const { return OutlineRect().Grown(border_); }

std::string ElementImpl::Name() {
    HostCall("LayoutElement.Name");
    return name_;
}
Variant ElementImpl::CustomProperty() {
    HostCall("LayoutElement.CustomProperty");
    return custom_;
}
void ElementImpl::SetCustomProperty(const Variant& value) {
    HostCall("LayoutElement.SetCustomProperty");
    custom_ = value;
}

void ElementImpl::QueryBounds(const ComPtr<Display>& display, const ComPtr<Envelope>& bounds) {
    HostCall("LayoutElement.QueryBounds");
    if (!display || !bounds)
        Raise(hresult::kPointer, "LayoutElement.QueryBounds", "A display and an envelope are required.");
    const Rect r = BoundsRect();
    bounds->PutCoords(r.xmin, r.ymin, r.xmax, r.ymax);
}

void ElementImpl::QueryOutline(const ComPtr<Display>& display, const ComPtr<Polygon>& outline) {
    HostCall("LayoutElement.QueryOutline");
    if (!display || !outline)
        Raise(hresult::kPointer, "LayoutElement.QueryOutline", "A display and a polygon are required.");
    if (outline_.empty() || IsGroup()) {
        PutRectangle(outline, OutlineRect());
        return;
    }
    outline->SetEmpty();
    for (const auto& [x, y] : outline_) outline->AddPoint(x, y);
    outline->AddPoint(outline_.front().first, outline_.front().second);
}

void ElementImpl::SetOutline(std::vector<std::pair<double, double>> corners) {
    outline_ = std::move(corners);
    if (outline_.empty()) return;
    rect_ = {outline_[0].first, outline_[0].second, outline_[0].first, outline_[0].second};
    for (const auto& [x, y] : outline_) {
        rect_ = {std::min(rect_.xmin, x), std::min(rect_.ymin, y), std::max(rect_.xmax, x), std::max(rect_.ymax, y)};
    }
}

void ElementImpl::Shift(double dx, double dy) {
    rect_ = rect_.Moved(dx, dy);
    for (auto& [x, y] : outline_) {
        x += dx;
        y += dy;
    }
    for (const auto& m : members_) From(ComPtr<Unknown>(m))->Shift(dx, dy);
}

void ElementImpl::Move(double dx, double dy) {
    HostCall("LayoutElement.Move");
    Shift(dx, dy);
    if (auto s = state_.lock(); s && s->log_events) s->events.push_back({HostEvent::Kind::Move, name_, dx, dy});
}

std::string ElementImpl::MapName() {
    HostCall("MapFrame.MapName");
    return name_;
}

void ElementImpl::ResetMembers() {
    HostCall("ElementSequence.ResetMembers");
    next_member_ = 0;
}

ComPtr<LayoutElement> ElementImpl::NextMember() {
    HostCall("ElementSequence.NextMember");
    if (next_member_ >= members_.size()) return {};
    return members_[next_member_++];
}

int32_t ElementImpl::MemberCount() {
    HostCall("ElementGroup.MemberCount");
    return static_cast<int32_t>(members_.size());
}

ComPtr<LayoutElement> ElementImpl::Member(int32_t index) {
    HostCall("ElementGroup.Member");
    if (index < 0 || static_cast<size_t>(index) >= members_.size()) {
        Raise(hresult::kInvalidArg, "ElementGroup.Member", "Member index out of range.");
    }
    return members_[static_cast<size_t>(index)];
}

void ElementImpl::AddMember(ComPtr<LayoutElement> member) { members_.push_back(std::move(member)); }

void ContainerImpl::Reset() {
    HostCall("ElementContainer.Reset");
    next_ = 0;
}

ComPtr<LayoutElement> ContainerImpl::Next() {
    HostCall("ElementContainer.Next");
    if (next_ >= s_->elements.size()) return {};
    return s_->elements[next_++];
}

void ContainerImpl::UpdateElement(const ComPtr<LayoutElement>& element) {
    HostCall("ElementContainer.UpdateElement");
    ElementImpl* e = ElementImpl::From(ComPtr<Unknown>(element));
    if (e == nullptr) Raise(hresult::kInvalidArg, "ElementContainer.UpdateElement", "Not an element of this layout.");
    if (s_->log_events) s_->events.push_back({HostEvent::Kind::Update, e->name()});
}

void LayoutPageImpl::QuerySize(double& width, double& height) {
    HostCall("LayoutPage.QuerySize");
    width = s_->page_size_in_force ? s_->page_size_in_force->first : s_->page_width;
    height = s_->page_size_in_force ? s_->page_size_in_force->second : s_->page_height;
}

ComPtr<LayoutPage> LayoutViewImpl::Page() {
    HostCall("LayoutView.Page");
    return MakeCom<LayoutPage, LayoutPageImpl>(s_);
}
ComPtr<Display> LayoutViewImpl::ScreenDisplay() {
    HostCall("LayoutView.ScreenDisplay");
    return MakeCom<Display, DisplayImpl>();
}

void LayoutViewImpl::PartialRefresh(int32_t phase, const ComPtr<Unknown>& data, const ComPtr<Envelope>& area) {
    HostCall("LayoutView.PartialRefresh");
    ElementImpl* e = ElementImpl::From(data);
    if (!s_->log_events) return;
    HostEvent ev{HostEvent::Kind::Refresh, e != nullptr ? e->name() : std::string()};
    ev.phase = phase;
    ev.had_area = static_cast<bool>(area);
    s_->events.push_back(ev);
}

ComPtr<ElementContainer> DocumentImpl::PageLayout() {
    HostCall("HostDocument.PageLayout");
    return MakeCom<ElementContainer, ContainerImpl>(s_);
}
ComPtr<LayoutView> DocumentImpl::ActiveView() {
    HostCall("HostDocument.ActiveView");
    return MakeCom<LayoutView, LayoutViewImpl>(s_);
}
ComPtr<ElementContainer> DocumentImpl::ActiveViewContainer() {
    HostCall("HostDocument.ActiveViewContainer");
    return MakeCom<ElementContainer, ContainerImpl>(s_);
}

ComPtr<HostDocument> ApplicationImpl::Document() {
    HostCall("HostApplication.Document");
    return MakeCom<HostDocument, DocumentImpl>(s_);
}

}  // namespace crv::standalone
