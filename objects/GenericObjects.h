#pragma once
// The host objects that depend on no layout: rectangles and geometry, property bags and the
// other generic objects, and map series data read into memory. Any host can offer these to the
// component as they are; the QGIS host does.

#include "host/HostClasses.h"
#include "support/Faults.h"

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace crv::objects {

using support::HostCall;
using support::Tracked;

struct Rect {
    double xmin = 0, ymin = 0, xmax = 0, ymax = 0;
    double Width() const { return xmax - xmin; }
    double Height() const { return ymax - ymin; }
    Rect Moved(double dx, double dy) const { return {xmin + dx, ymin + dy, xmax + dx, ymax + dy}; }
    Rect Grown(double d) const { return {xmin - d, ymin - d, xmax + d, ymax + d}; }
    friend bool operator==(const Rect&, const Rect&) = default;
};

// ---------------------------------------------------------------- geometry

// Makes the polygon the outline of the rectangle, closed, as hosts hand outlines over.
void PutRectangle(const ComPtr<Polygon>& polygon, const Rect& r);

class EnvelopeImpl final : public ComObject<Envelope>, public Tracked {
public:
    explicit EnvelopeImpl(Rect r = {}) : r_(r) {}
    double XMin() override;
    double YMin() override;
    double XMax() override;
    double YMax() override;
    double Width() override;
    double Height() override;
    void PutCoords(double xmin, double ymin, double xmax, double ymax) override;

private:
    Rect r_;
};

class PolygonImpl final : public ComObject<Polygon>, public Tracked {
public:
    ComPtr<Envelope> GetEnvelope() override;
    void SetEmpty() override;
    void AddPoint(double x, double y) override;

private:
    std::vector<std::pair<double, double>> points_;
};

class PointImpl final : public ComObject<GeometryPoint>, public Tracked {
public:
    double X() override;
    double Y() override;
    void SetX(double x) override;
    void SetY(double y) override;

private:
    double x_ = 0, y_ = 0;
};

class DisplayImpl final : public ComObject<Display>, public Tracked {
public:
    double Resolution() override;
};

// ---------------------------------------------------------------- generic objects

// The host's own view of a bag: its entries in the order they were first set.
class BagContents : public Unknown {
public:
    static constexpr Guid IID = MakeGuid("0b6f1a52-7d9e-4c1b-8f3e-5a2d9c4e7b10");
    virtual std::vector<std::pair<std::string, Variant>> Entries() = 0;

protected:
    ~BagContents() = default;
};

// How many changes the property bags of this process have seen: a value made of bags is as it
// was while the count stands still.
uint64_t PropertyBagChanges();

class PropertyBagImpl final : public ComObject<PropertyBag, BagContents>, public Tracked {
public:
    Variant GetProperty(const std::string& name) override;
    void SetProperty(const std::string& name, const Variant& value) override;
    void RemoveProperty(const std::string& name) override;
    std::vector<std::pair<std::string, Variant>> Entries() override { return entries_; }

private:
    // A record holds a few dozen entries, found fastest by a scan; a bag grown past this many
    // (another tool's keys, a project's custom properties) is looked up through an index.
    static constexpr size_t kIndexedFrom = 64;
    // The entry of `name`, or entries_.size().
    size_t Find(const std::string& name) const;
    void Reindex();

    std::vector<std::pair<std::string, Variant>> entries_;  // in the order first set; names unique
    std::unordered_map<std::string, size_t> index_;  // empty below kIndexedFrom entries
};

// Deep copies of property bags (nested bags copied too, other objects shared).
class ObjectCopierImpl final : public ComObject<ObjectCopier>, public Tracked {
public:
    ComPtr<Unknown> Copy(const ComPtr<Unknown>& object) override;
};

class ObjectSetImpl final : public ComObject<ObjectSet>, public Tracked {
public:
    explicit ObjectSetImpl(std::vector<ComPtr<Unknown>> objects) : objects_(std::move(objects)) {}
    void Reset() override;
    ComPtr<Unknown> Next() override;

private:
    std::vector<ComPtr<Unknown>> objects_;
    size_t next_ = 0;
};

class PageSiteImpl final : public ComObject<PropertyPageSite>, public Tracked {
public:
    void PageChanged() override;
    int Notifications() const { return notifications_; }

private:
    int notifications_ = 0;
};

class HostUIDImpl final : public ComObject<HostUID>, public Tracked {
public:
    void SetValue(const std::string& value) override;
    std::string Value() override;

private:
    std::string value_;
};

// ---------------------------------------------------------------- map series

struct SeriesField {
    std::string name;
    int32_t type = fieldtype::kDouble;
};

// The rows of a series read from a dataset that can fetch any feature quickly: only the pages'
// places in the dataset stay in memory, and a page's row is read when asked.
class SeriesRows {
public:
    virtual ~SeriesRows() = default;
    virtual size_t Count() const = 0;
    // The row of values of the page at `index` (0 for the first page). Raises the host's usual
    // error when the dataset can no longer give it.
    virtual std::vector<Variant> Row(size_t index) = 0;
    // One value of that row, nothing past its end, without a copy of the rest: what a page's
    // feature is asked for, a field at a time. Raises as Row does.
    virtual std::optional<Variant> Value(size_t index, size_t field) = 0;
};

class SheetIndex;

// A map series: its index layer's fields and one feature (row of values) per page, in page
// order. Readers go through PageCount(), Row() and Value(): the rows are either in `features`
// (a series built in code, or read from a format without fast random reads) or in `rows`.
struct SeriesData {
    std::string name = "Map Series";
    // How a host's messages name the series when it has words of its own for it ("the atlas's
    // coverage layer \"sheets\""); empty: by the document's name.
    std::string called;
    std::vector<SeriesField> fields;
    std::vector<std::vector<Variant>> features;
    // When set, the pages' rows come from here and `features` stays empty.
    std::shared_ptr<SeriesRows> rows;
    int32_t first_page_number = 1;
    // The page in force, as the 1-based position of its feature: the one record of it. The host
    // puts a page in force here; the engine hands the same position back through
    // MapSeriesFrame.SetCurrentPage, and drawing reads the page's values from it.
    int32_t current_position = 1;
    bool enabled = true;
    // Each feature's geometry envelope in map units, in page order; empty when the series was
    // not read from a dataset with geometry.
    std::vector<Rect> envelopes;

    size_t PageCount() const;
    // Throws std::out_of_range for an index past the last page.
    std::vector<Variant> Row(size_t index) const;
    // Null for a field the row does not have.
    Variant Value(size_t index, size_t field) const;
    // The value of a field on the page in force; Null when there is no such field.
    Variant CurrentValue(const std::string& field) const;
    // The pages whose envelopes meet `view` (touching counts), in page order: the same pages a
    // scan of every envelope would give, found through an index built on first use.
    std::vector<size_t> SheetsMeeting(const Rect& view) const;

private:
    mutable std::shared_ptr<const SheetIndex> sheet_index_;
};

class FieldImpl final : public ComObject<Field>, public Tracked {
public:
    explicit FieldImpl(SeriesField f) : f_(std::move(f)) {}
    std::string Name() override;
    int32_t Type() override;

private:
    SeriesField f_;
};

class FieldSetImpl final : public ComObject<FieldSet>, public Tracked {
public:
    explicit FieldSetImpl(std::shared_ptr<SeriesData> s) : s_(std::move(s)) {}
    int32_t FieldCount() override;
    ComPtr<Field> FieldAt(int32_t index) override;

private:
    std::shared_ptr<SeriesData> s_;
};

class FeatureTableImpl final : public ComObject<FeatureTable>, public Tracked {
public:
    explicit FeatureTableImpl(std::shared_ptr<SeriesData> s) : s_(std::move(s)) {}
    ComPtr<FieldSet> Fields() override;
    int32_t FindField(const std::string& name) override;

private:
    std::shared_ptr<SeriesData> s_;
};

class SeriesLayerImpl final : public ComObject<SeriesLayer>, public Tracked {
public:
    explicit SeriesLayerImpl(std::shared_ptr<SeriesData> s) : s_(std::move(s)) {}
    ComPtr<FeatureTable> Table() override;

private:
    std::shared_ptr<SeriesData> s_;
};

class PageFeatureImpl final : public ComObject<PageFeature>, public Tracked {
public:
    PageFeatureImpl(std::shared_ptr<SeriesData> s, int32_t position) : s_(std::move(s)), position_(position) {}
    Variant Value(int32_t index) override;
    int32_t Position() const { return position_; }

private:
    std::shared_ptr<SeriesData> s_;
    int32_t position_;
};

}  // namespace crv::objects
