#include "objects/GenericObjects.h"

#include "objects/SheetIndex.h"

#include <limits>
#include <optional>
#include <stdexcept>

namespace crv::objects {

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
    if (index >= rows->Count())
        throw std::out_of_range("no page " + std::to_string(index + 1) + " in map series " + name);
    return rows->Value(index, field).value_or(Variant::Null());
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
    // One value of the row, not a copy of it: the row is read first, so its errors come first.
    const size_t field = index < 0 ? std::numeric_limits<size_t>::max() : static_cast<size_t>(index);
    if (std::optional<Variant> v = s_->rows->Value(page, field)) return *std::move(v);
    Raise(hresult::kInvalidArg, "PageFeature.Value", "Field index out of range.");
}

}  // namespace crv::objects
