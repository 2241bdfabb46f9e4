#pragma once
// The standalone host: one open document in memory, its companions, and the class
// registrations through which the component creates host objects. Only one host is
// registered at a time; the newest one wins.

#include "standalone/host/Objects.h"

#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace crv::standalone {

struct HostOptions {
    double page_width = 8.5;
    double page_height = 11.0;
    // Without companions the component sees no multi-page layout and no map series.
    bool companions = true;
};

class StandaloneHost {
public:
    explicit StandaloneHost(HostOptions options = {});
    ~StandaloneHost();
    StandaloneHost(const StandaloneHost&) = delete;
    StandaloneHost& operator=(const StandaloneHost&) = delete;

    HostState& State() { return *state_; }
    // The host's running application, its own object (not the class table's newest host).
    ComPtr<HostApplication> Application();
    const std::shared_ptr<HostState>& SharedState() { return state_; }

    // Elements on the page, in container order.
    ComPtr<LayoutElement> AddText(const std::string& name, Rect rect, const std::string& text = {});
    ComPtr<LayoutElement> AddPicture(const std::string& name, Rect rect);
    // A map frame whose display bounds are its outline grown by the frame border.
    ComPtr<LayoutElement> AddMapFrame(const std::string& name, Rect outline, double border = 0);
    ComPtr<LayoutElement> AddGroup(const std::string& name, ElementKind kind,
                                   std::vector<ComPtr<LayoutElement>> members);
    ComPtr<LayoutElement> Add(ComPtr<LayoutElement> element);

    // An element that is not (yet) on the page, e.g. a group member.
    ComPtr<LayoutElement> Make(ElementKind kind, const std::string& name, Rect rect);

    std::shared_ptr<SeriesData> AttachSeries(const ComPtr<LayoutElement>& frame, SeriesData data);

    // The element's rectangle as the host reports it: outline for map frames, else bounds.
    static Rect ExtentOf(const ComPtr<LayoutElement>& element);
    static Rect BoundsOf(const ComPtr<LayoutElement>& element);
    // The host's own object behind an element it made. Only the standalone host's own folders
    // reach it (a build rule); what another part asks of an element goes through the host
    // interfaces or the functions below.
    static ElementImpl& ElementOf(const ComPtr<LayoutElement>& element);
    // The page of the layout the element stands on, from 0.
    static int32_t LayoutPageOf(const ComPtr<LayoutElement>& element);
    // The map series on a map frame; none for other elements and frames without one.
    static std::shared_ptr<SeriesData> SeriesOf(const ComPtr<LayoutElement>& element);
    // Why the host places the element itself (from data), in a few words; "" when it does not.
    static std::string HeldReason(const ComPtr<LayoutElement>& element);
    // Puts the element at `rect` as a resize of the host's own would: a group moves its
    // members by its lower left corner, since its rectangle is theirs.
    static void PlaceAt(const ComPtr<LayoutElement>& element, Rect rect);

    ComPtr<ObjectSet> Selection(std::initializer_list<ComPtr<Unknown>> objects);

    // The companions' multi-page layout in force.
    void SetSeriesLayout(const std::string& name, Variant currentPage);
    void SetSectionTemplate(const std::string& name, SectionTemplate t);
    void ClearActiveLayout();

private:
    std::shared_ptr<HostState> state_;
    std::vector<std::unique_ptr<ScopedClassRegistration>> registrations_;
};

}  // namespace crv::standalone
