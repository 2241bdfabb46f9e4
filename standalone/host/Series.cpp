#include "standalone/host/Objects.h"

#include <stdexcept>

namespace crv::standalone {

namespace {
std::shared_ptr<SeriesData> SeriesOf(const ComPtr<MapFrame>& frame) {
    ElementImpl* e = ElementImpl::From(ComPtr<Unknown>(frame));
    return e != nullptr ? e->series : nullptr;
}
}  // namespace

bool MapSeriesFrameImpl::HasSeries(const ComPtr<MapFrame>& frame) {
    HostCall("MapSeriesFrame.HasSeries");
    return SeriesOf(frame) != nullptr;
}

bool MapSeriesFrameImpl::IsSeriesEnabled(const ComPtr<MapFrame>& frame) {
    HostCall("MapSeriesFrame.IsSeriesEnabled");
    auto s = SeriesOf(frame);
    return s != nullptr && s->enabled;
}

void MapSeriesFrameImpl::Bind(const ComPtr<MapFrame>& frame) {
    HostCall("MapSeriesFrame.Bind");
    auto s = SeriesOf(frame);
    if (!s) Raise(hresult::kInvalidArg, "MapSeriesFrame.Bind", "The map frame carries no map series.");
    s_ = std::move(s);
}

const std::shared_ptr<SeriesData>& MapSeriesFrameImpl::Bound(const char* op) {
    if (!s_) Raise(hresult::kFail, op, "The map series frame is not bound to a map frame.");
    return s_;
}

ComPtr<SeriesLayer> MapSeriesFrameImpl::IndexLayer() {
    HostCall("MapSeriesFrame.IndexLayer");
    return MakeCom<SeriesLayer, SeriesLayerImpl>(Bound("MapSeriesFrame.IndexLayer"));
}

Variant MapSeriesFrameImpl::PageCount() {
    HostCall("MapSeriesFrame.PageCount");
    return Variant(static_cast<int32_t>(Bound("MapSeriesFrame.PageCount")->PageCount()));
}

Variant MapSeriesFrameImpl::FirstPageNumber() {
    HostCall("MapSeriesFrame.FirstPageNumber");
    return Variant(Bound("MapSeriesFrame.FirstPageNumber")->first_page_number);
}

ComPtr<PageFeature> MapSeriesFrameImpl::FeatureAt(int32_t position) {
    HostCall("MapSeriesFrame.FeatureAt");
    const auto& s = Bound("MapSeriesFrame.FeatureAt");
    if (position < 1 || static_cast<size_t>(position) > s->PageCount()) {
        Raise(hresult::kInvalidArg, "MapSeriesFrame.FeatureAt",
              "No page at position " + std::to_string(position) + ".");
    }
    return MakeCom<PageFeature, PageFeatureImpl>(s, position);
}

void MapSeriesFrameImpl::SetCurrentPage(const ComPtr<PageFeature>&, int32_t position) {
    HostCall("MapSeriesFrame.SetCurrentPage");
    auto s = Bound("MapSeriesFrame.SetCurrentPage");
    if (position < 1 || static_cast<size_t>(position) > s->PageCount()) {
        Raise(hresult::kInvalidArg, "MapSeriesFrame.SetCurrentPage",
              "No page at position " + std::to_string(position) + ".");
    }
    s->current_position = position;
}

std::string ActiveLayoutInfoImpl::LayoutName() {
    HostCall("ActiveLayoutInfo.LayoutName");
    return s_->active_layout_name;
}
std::string ActiveLayoutInfoImpl::LayoutKind() {
    HostCall("ActiveLayoutInfo.LayoutKind");
    return s_->active_layout_kind;
}

Variant SeriesLayoutInfoImpl::CurrentPage(const std::string& layoutName) {
    HostCall("SeriesLayoutInfo.CurrentPage");
    auto it = s_->series_layouts.find(layoutName);
    if (it == s_->series_layouts.end()) {
        Raise(hresult::kInvalidArg, "SeriesLayoutInfo.CurrentPage", "No series layout named " + layoutName + ".");
    }
    return it->second;
}

const SectionTemplate& SectionTemplateInfoImpl::Find(const std::string& name) {
    auto it = s_->section_templates.find(name);
    if (it == s_->section_templates.end()) {
        Raise(hresult::kInvalidArg, "SectionTemplateInfo", "No section template named " + name + ".");
    }
    return it->second;
}

Variant SectionTemplateInfoImpl::StartingPage(const std::string& templateName) {
    HostCall("SectionTemplateInfo.StartingPage");
    return Find(templateName).starting_page;
}

std::string SectionTemplateInfoImpl::CurrentSection(const std::string& templateName) {
    HostCall("SectionTemplateInfo.CurrentSection");
    return Find(templateName).current_section;
}

Variant SectionTemplateInfoImpl::SectionPage(const std::string& templateName, const std::string& sectionName) {
    HostCall("SectionTemplateInfo.SectionPage");
    const SectionTemplate& t = Find(templateName);
    auto it = t.section_pages.find(sectionName);
    if (it == t.section_pages.end()) {
        Raise(hresult::kInvalidArg, "SectionTemplateInfo.SectionPage",
              "The section template " + templateName + " has no section named " + sectionName + ".");
    }
    return it->second;
}

}  // namespace crv::standalone
