#include "standalone/host/StandaloneHost.h"

namespace crv::standalone {

namespace {

template <class I, class Impl, class... Args>
FunctionClassFactory::Maker Maker(const char* op, Args... args) {
    return [op, args...]() -> ComPtr<Unknown> {
        HostCall(op);
        return ComPtr<Unknown>(MakeCom<I, Impl>(args...));
    };
}

}  // namespace

StandaloneHost::StandaloneHost(HostOptions options) : state_(std::make_shared<HostState>()) {
    state_->page_width = options.page_width;
    state_->page_height = options.page_height;
    auto add = [&](const Guid& id, FunctionClassFactory::Maker m) {
        registrations_.push_back(std::make_unique<ScopedClassRegistration>(id, std::move(m)));
    };
    add(clsid::HostApplication, Maker<HostApplication, ApplicationImpl>("Create.HostApplication", state_));
    add(clsid::PropertyBag, Maker<PropertyBag, PropertyBagImpl>("Create.PropertyBag"));
    add(clsid::Envelope, Maker<Envelope, EnvelopeImpl>("Create.Envelope"));
    add(clsid::Polygon, Maker<Polygon, PolygonImpl>("Create.Polygon"));
    add(clsid::GeometryPoint, Maker<GeometryPoint, PointImpl>("Create.GeometryPoint"));
    add(clsid::ObjectCopier, Maker<ObjectCopier, ObjectCopierImpl>("Create.ObjectCopier"));
    add(clsid::HostUID, Maker<HostUID, HostUIDImpl>("Create.HostUID"));
    add(clsid::CategoryRegistrar, Maker<CategoryRegistrar, CategoryRegistrarImpl>("Create.CategoryRegistrar"));
    if (options.companions) {
        add(clsid::MapSeriesFrame, Maker<MapSeriesFrame, MapSeriesFrameImpl>("Create.MapSeriesFrame"));
        add(clsid::ActiveLayoutInfo, Maker<ActiveLayoutInfo, ActiveLayoutInfoImpl>("Create.ActiveLayoutInfo", state_));
        add(clsid::SeriesLayoutInfo, Maker<SeriesLayoutInfo, SeriesLayoutInfoImpl>("Create.SeriesLayoutInfo", state_));
        add(clsid::SectionTemplateInfo,
            Maker<SectionTemplateInfo, SectionTemplateInfoImpl>("Create.SectionTemplateInfo", state_));
    }
}

StandaloneHost::~StandaloneHost() {
    registrations_.clear();
    // Groups hold their members; the page holds the groups. Dropping the page releases all.
    state_->elements.clear();
}

ComPtr<LayoutElement> StandaloneHost::Make(ElementKind kind, const std::string& name, Rect rect) {
    return MakeCom<LayoutElement, ElementImpl>(kind, name, rect, std::weak_ptr<HostState>(state_));
}

ComPtr<LayoutElement> StandaloneHost::Add(ComPtr<LayoutElement> element) {
    state_->elements.push_back(element);
    return element;
}

ComPtr<LayoutElement> StandaloneHost::AddText(const std::string& name, Rect rect, const std::string& text) {
    auto e = Make(ElementKind::Text, name, rect);
    ElementOf(e).text = text;
    return Add(e);
}

ComPtr<LayoutElement> StandaloneHost::AddPicture(const std::string& name, Rect rect) {
    return Add(Make(ElementKind::Picture, name, rect));
}

ComPtr<LayoutElement> StandaloneHost::AddMapFrame(const std::string& name, Rect outline, double border) {
    auto e = Make(ElementKind::MapFrame, name, outline);
    ElementOf(e).SetFrameBorder(border);
    return Add(e);
}

ComPtr<LayoutElement> StandaloneHost::AddGroup(const std::string& name, ElementKind kind,
                                               std::vector<ComPtr<LayoutElement>> members) {
    auto e = Make(kind, name, {});
    for (auto& m : members) ElementOf(e).AddMember(std::move(m));
    return Add(e);
}

std::shared_ptr<SeriesData> StandaloneHost::AttachSeries(const ComPtr<LayoutElement>& frame, SeriesData data) {
    auto s = std::make_shared<SeriesData>(std::move(data));
    ElementOf(frame).series = s;
    return s;
}

ElementImpl& StandaloneHost::ElementOf(const ComPtr<LayoutElement>& element) {
    ElementImpl* e = ElementImpl::From(ComPtr<Unknown>(element));
    if (e == nullptr) Raise(hresult::kInvalidArg, "StandaloneHost", "Not an element of the standalone host.");
    return *e;
}

int32_t StandaloneHost::LayoutPageOf(const ComPtr<LayoutElement>& element) { return ElementOf(element).layout_page; }

std::shared_ptr<SeriesData> StandaloneHost::SeriesOf(const ComPtr<LayoutElement>& element) {
    return ElementOf(element).series;
}

std::string StandaloneHost::HeldReason(const ComPtr<LayoutElement>& element) { return ElementOf(element).held; }

void StandaloneHost::PlaceAt(const ComPtr<LayoutElement>& element, Rect rect) {
    ElementImpl& impl = ElementOf(element);
    if (impl.IsGroup()) {
        const Rect now = ExtentOf(element);
        impl.Move(rect.xmin - now.xmin, rect.ymin - now.ymin);
    } else {
        impl.SetRect(rect);
    }
}

ComPtr<HostApplication> StandaloneHost::Application() { return MakeCom<HostApplication, ApplicationImpl>(state_); }

Rect StandaloneHost::ExtentOf(const ComPtr<LayoutElement>& element) {
    ElementImpl& e = ElementOf(element);
    return e.Kind() == ElementKind::MapFrame ? e.OutlineRect() : e.BoundsRect();
}

Rect StandaloneHost::BoundsOf(const ComPtr<LayoutElement>& element) { return ElementOf(element).BoundsRect(); }

ComPtr<ObjectSet> StandaloneHost::Selection(std::initializer_list<ComPtr<Unknown>> objects) {
    return MakeCom<ObjectSet, ObjectSetImpl>(std::vector<ComPtr<Unknown>>(objects));
}

void StandaloneHost::SetSeriesLayout(const std::string& name, Variant currentPage) {
    state_->active_layout_name = name;
    state_->active_layout_kind = ActiveLayoutInfo::kSeriesLayout;
    state_->series_layouts[name] = std::move(currentPage);
}

void StandaloneHost::SetSectionTemplate(const std::string& name, SectionTemplate t) {
    state_->active_layout_name = name;
    state_->active_layout_kind = ActiveLayoutInfo::kSectionTemplate;
    state_->section_templates[name] = std::move(t);
}

void StandaloneHost::ClearActiveLayout() {
    state_->active_layout_name.clear();
    state_->active_layout_kind.clear();
}

}  // namespace crv::standalone
