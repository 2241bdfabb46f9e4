#include "standalone/host/Objects.h"
#include "standalone/host/SheetIndex.h"

#include <stdexcept>

namespace crv::standalone {

Variant SeriesData::CurrentValue(const std::string& field) const {
    const size_t row = static_cast<size_t>(current_position - 1);
    if (current_position < 1 || row >= PageCount()) return Variant::Null();
    for (size_t i = 0; i < fields.size(); ++i) {
        if (fields[i].name == field) return Value(row, i);
    }
    return Variant::Null();
}

size_t SeriesData::PageCount() const { return rows ? rows->Count() : features.size(); }

std::vector<Variant> SeriesData::Row(size_t index) const {
    if (index >= PageCount())
        throw std::out_of_range("no page " + std::to_string(index + 1) + " in map series " + name);
    return rows ? rows->Row(index) : features[index];
}

Variant SeriesData::Value(size_t index, size_t field) const {
    if (!rows) {
        if (index >= features.size())
            throw std::out_of_range("no page " + std::to_string(index + 1) + " in map series " + name);
        const auto& row = features[index];
        return field < row.size() ? row[field] : Variant::Null();
    }
    const std::vector<Variant> row = Row(index);
    return field < row.size() ? row[field] : Variant::Null();
}

std::vector<size_t> SeriesData::SheetsMeeting(const Rect& view) const {
    // Built once: the envelopes are set when the series is read and stay as they are.
    if (!sheet_index_ || sheet_index_->Count() != envelopes.size()) {
        sheet_index_ = std::make_shared<const SheetIndex>(envelopes);
    }
    return sheet_index_->Meeting(envelopes, view);
}

std::string FieldImpl::Name() {
    HostCall("Field.Name");
    return f_.name;
}
int32_t FieldImpl::Type() {
    HostCall("Field.Type");
    return f_.type;
}

int32_t FieldSetImpl::FieldCount() {
    HostCall("FieldSet.FieldCount");
    return static_cast<int32_t>(s_->fields.size());
}

ComPtr<Field> FieldSetImpl::FieldAt(int32_t index) {
    HostCall("FieldSet.FieldAt");
    if (index < 0 || static_cast<size_t>(index) >= s_->fields.size()) {
        Raise(hresult::kInvalidArg, "FieldSet.FieldAt", "Field index out of range.");
    }
    return MakeCom<Field, FieldImpl>(s_->fields[static_cast<size_t>(index)]);
}

ComPtr<FieldSet> FeatureTableImpl::Fields() {
    HostCall("FeatureTable.Fields");
    return MakeCom<FieldSet, FieldSetImpl>(s_);
}

int32_t FeatureTableImpl::FindField(const std::string& name) {
    HostCall("FeatureTable.FindField");
    for (size_t i = 0; i < s_->fields.size(); ++i) {
        if (s_->fields[i].name == name) return static_cast<int32_t>(i);
    }
    return -1;
}

ComPtr<FeatureTable> SeriesLayerImpl::Table() {
    HostCall("SeriesLayer.Table");
    return MakeCom<FeatureTable, FeatureTableImpl>(s_);
}

Variant PageFeatureImpl::Value(int32_t index) {
    HostCall("PageFeature.Value");
    const auto valueIn = [index](const std::vector<Variant>& row) {
        if (index < 0 || static_cast<size_t>(index) >= row.size()) {
            Raise(hresult::kInvalidArg, "PageFeature.Value", "Field index out of range.");
        }
        return row[static_cast<size_t>(index)];
    };
    const size_t page = static_cast<size_t>(position_ - 1);
    // Rows in memory are read where they lie: the engine asks for values on every page.
    if (!s_->rows) return valueIn(s_->features.at(page));
    return valueIn(s_->Row(page));
}

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
