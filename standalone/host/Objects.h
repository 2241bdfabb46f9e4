#pragma once
// The standalone host's objects: everything the component reaches through host/, kept in
// memory. Documents on disk, series data and rendering build on these. The objects that depend
// on no layout are in GenericObjects.h.

#include "objects/GenericObjects.h"

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace crv::standalone {

// The standalone host is built on the generic host objects and the shared support, and uses
// their names as its own.
using namespace crv::objects;
using namespace crv::support;

// ---------------------------------------------------------------- layout

struct HostState;

enum class ElementKind { Text, Picture, MapFrame, Group, IndexedGroup, SequenceAndIndexedGroup };

// A kind's name where the host's layout is written down whole (the snapshot): "text",
// "picture", "map_frame", "group", "indexed_group", "sequence_and_indexed_group"; and back,
// nothing for an unknown name.
const char* ElementKindName(ElementKind kind);
std::optional<ElementKind> ElementKindNamed(const std::string& name);
// A kind as a map document and the book's report name its type: "text", "picture", "map_frame" or
// "group".
const char* ElementTypeName(ElementKind kind);
// How a group's members are reached, as a map document writes it: "walk", "index" or "both";
// "" for a kind that is no group. And back, nothing for another word.
const char* GroupMembersBy(ElementKind kind);
std::optional<ElementKind> GroupKindOf(const std::string& membersBy);

class ElementImpl;

// The host's own access to its elements behind any of their interfaces.
class ElementAccess : public Unknown {
public:
    static constexpr Guid IID = MakeGuid("5e2c7d41-9a3b-4f60-b1d8-2c7e0f9a4d21");
    virtual ElementImpl* HostElement() = 0;

protected:
    ~ElementAccess() = default;
};

class ElementImpl final : public ComObject<LayoutElement, MapFrame, ElementSequence, ElementGroup, ElementAccess>,
                          public Tracked {
public:
    ElementImpl(ElementKind kind, std::string name, Rect rect, std::weak_ptr<HostState> state);

    // LayoutElement
    std::string Name() override;
    Variant CustomProperty() override;
    void SetCustomProperty(const Variant& value) override;
    void QueryBounds(const ComPtr<Display>& display, const ComPtr<Envelope>& bounds) override;
    void QueryOutline(const ComPtr<Display>& display, const ComPtr<Polygon>& outline) override;
    void Move(double dx, double dy) override;
    // MapFrame
    std::string MapName() override;
    // ElementSequence
    void ResetMembers() override;
    ComPtr<LayoutElement> NextMember() override;
    // ElementGroup
    int32_t MemberCount() override;
    ComPtr<LayoutElement> Member(int32_t index) override;
    // ElementAccess
    ElementImpl* HostElement() override { return this; }

    // The host's side.
    static ElementImpl* From(const ComPtr<Unknown>& object);
    ElementKind Kind() const { return kind_; }
    bool IsGroup() const;
    const std::string& name() const { return name_; }
    void SetName(std::string name) { name_ = std::move(name); }
    // For a map frame, the rectangle of its outline; for a group the union of its members.
    Rect OutlineRect() const;
    // What a display reports as bounds: the outline grown by the frame border.
    Rect BoundsRect() const;
    // A rectangle again: any outline given before is dropped.
    void SetRect(Rect r) {
        rect_ = r;
        outline_.clear();
    }
    // Where the element is not a rectangle (a rotated item): its corners in page units, in
    // order; its rectangle becomes their envelope. Moves move them too.
    void SetOutline(std::vector<std::pair<double, double>> corners);
    const std::vector<std::pair<double, double>>& Outline() const { return outline_; }
    void SetFrameBorder(double width) { border_ = width; }
    double FrameBorder() const { return border_; }
    void AddMember(ComPtr<LayoutElement> member);
    const std::vector<ComPtr<LayoutElement>>& Members() const { return members_; }
    const Variant& custom() const { return custom_; }
    std::string text;
    std::shared_ptr<SeriesData> series;
    // The page of a layout of several pages that the element stands on (0 for the first); its
    // rectangle is measured on that page.
    int32_t layout_page = 0;
    // That page's width and height when they are not the first page's: its checks measure it.
    std::optional<std::pair<double, double>> page_size;
    // Why the host, not the anchoring, places the element (its position set from data), so that
    // a move would not hold; empty when a move holds.
    std::string held;

protected:
    bool Exposes(const Guid& iid) const override;

private:
    void Shift(double dx, double dy);

    ElementKind kind_;
    std::string name_;
    Rect rect_;
    std::vector<std::pair<double, double>> outline_;
    double border_ = 0;
    Variant custom_;
    std::vector<ComPtr<LayoutElement>> members_;
    size_t next_member_ = 0;
    std::weak_ptr<HostState> state_;
};

// What the host saw the component do, in order: moves, container updates, redraws.
struct HostEvent {
    enum class Kind { Move, Update, Refresh };
    Kind kind;
    std::string element;
    double dx = 0, dy = 0;
    int32_t phase = 0;
    bool had_area = false;
};

struct SectionTemplate {
    Variant starting_page = Variant(int32_t{1});
    std::string current_section;
    std::map<std::string, Variant> section_pages;
};

struct HostState {
    double page_width = 8.5;
    double page_height = 11.0;
    std::vector<ComPtr<LayoutElement>> elements;
    // Kept only when asked for (tests that check what the component did): a book of many
    // pages would otherwise grow it by three events a placement.
    bool log_events = false;
    std::vector<HostEvent> events;
    // The companions' multi-page layouts.
    std::string active_layout_name;
    std::string active_layout_kind;
    std::map<std::string, Variant> series_layouts;  // name -> current page
    std::map<std::string, SectionTemplate> section_templates;
    // How many pages of the layout each page of the book prints (a map page and a notes page for
    // every feature): odd and even pages and page lists then count printed pages.
    int32_t printed_pages_per_page = 1;
    // The size of the page the element being placed stands on, when it is not the first page's.
    std::optional<std::pair<double, double>> page_size_in_force;
};

class ContainerImpl final : public ComObject<ElementContainer>, public Tracked {
public:
    explicit ContainerImpl(std::shared_ptr<HostState> s) : s_(std::move(s)) {}
    void Reset() override;
    ComPtr<LayoutElement> Next() override;
    void UpdateElement(const ComPtr<LayoutElement>& element) override;

private:
    std::shared_ptr<HostState> s_;
    size_t next_ = 0;
};

class LayoutPageImpl final : public ComObject<LayoutPage>, public Tracked {
public:
    explicit LayoutPageImpl(std::shared_ptr<HostState> s) : s_(std::move(s)) {}
    void QuerySize(double& width, double& height) override;

private:
    std::shared_ptr<HostState> s_;
};

class LayoutViewImpl final : public ComObject<LayoutView>, public Tracked {
public:
    explicit LayoutViewImpl(std::shared_ptr<HostState> s) : s_(std::move(s)) {}
    ComPtr<LayoutPage> Page() override;
    ComPtr<Display> ScreenDisplay() override;
    void PartialRefresh(int32_t phase, const ComPtr<Unknown>& data, const ComPtr<Envelope>& area) override;

private:
    std::shared_ptr<HostState> s_;
};

class DocumentImpl final : public ComObject<HostDocument>, public Tracked {
public:
    explicit DocumentImpl(std::shared_ptr<HostState> s) : s_(std::move(s)) {}
    ComPtr<ElementContainer> PageLayout() override;
    ComPtr<LayoutView> ActiveView() override;
    ComPtr<ElementContainer> ActiveViewContainer() override;

private:
    std::shared_ptr<HostState> s_;
};

class ApplicationImpl final : public ComObject<HostApplication>, public Tracked {
public:
    explicit ApplicationImpl(std::shared_ptr<HostState> s) : s_(std::move(s)) {}
    ComPtr<HostDocument> Document() override;

private:
    std::shared_ptr<HostState> s_;
};

// Writes category membership into the class registry.
class CategoryRegistrarImpl final : public ComObject<CategoryRegistrar>, public Tracked {
public:
    void Setup(const std::string& libraryPath, const ComPtr<HostUID>& classId, const ComPtr<HostUID>& categoryId,
               bool install) override;
};

// ---------------------------------------------------------------- companions

class MapSeriesFrameImpl final : public ComObject<MapSeriesFrame>, public Tracked {
public:
    bool HasSeries(const ComPtr<MapFrame>& frame) override;
    bool IsSeriesEnabled(const ComPtr<MapFrame>& frame) override;
    void Bind(const ComPtr<MapFrame>& frame) override;
    ComPtr<SeriesLayer> IndexLayer() override;
    Variant PageCount() override;
    Variant FirstPageNumber() override;
    ComPtr<PageFeature> FeatureAt(int32_t position) override;
    void SetCurrentPage(const ComPtr<PageFeature>& feature, int32_t position) override;

private:
    const std::shared_ptr<SeriesData>& Bound(const char* op);
    std::shared_ptr<SeriesData> s_;
};

class ActiveLayoutInfoImpl final : public ComObject<ActiveLayoutInfo>, public Tracked {
public:
    explicit ActiveLayoutInfoImpl(std::shared_ptr<HostState> s) : s_(std::move(s)) {}
    std::string LayoutName() override;
    std::string LayoutKind() override;

private:
    std::shared_ptr<HostState> s_;
};

class SeriesLayoutInfoImpl final : public ComObject<SeriesLayoutInfo>, public Tracked {
public:
    explicit SeriesLayoutInfoImpl(std::shared_ptr<HostState> s) : s_(std::move(s)) {}
    Variant CurrentPage(const std::string& layoutName) override;

private:
    std::shared_ptr<HostState> s_;
};

class SectionTemplateInfoImpl final : public ComObject<SectionTemplateInfo>, public Tracked {
public:
    explicit SectionTemplateInfoImpl(std::shared_ptr<HostState> s) : s_(std::move(s)) {}
    Variant StartingPage(const std::string& templateName) override;
    std::string CurrentSection(const std::string& templateName) override;
    Variant SectionPage(const std::string& templateName, const std::string& sectionName) override;

private:
    const SectionTemplate& Find(const std::string& name);
    std::shared_ptr<HostState> s_;
};

}  // namespace crv::standalone
