#include "anchor/Anchorability.h"

#include "host/Companions.h"
#include "host/HostClasses.h"

namespace crv {

Anchorability CheckAnchorability(const AnchorRecord& r, const AnchorabilityHost& host) {
    Anchorability a;
    if (!r.AnchorElement) {
        a.why = NotAnchored::SwitchedOff;
        return a;
    }
    if (host.open) host.open();
    if (r.AnchorType == kAnchorTypeLayout) return a;
    if (r.AnchorType != kAnchorTypeNamedElement) {
        a.why = NotAnchored::UnknownAnchorType;
        return a;
    }
    if (r.ElementName == kNone) {
        a.why = NotAnchored::NoTargetNamed;
        return a;
    }
    a.target = host.find(r.ElementName);
    if (!a.target) {
        a.why = NotAnchored::TargetMissing;
        return a;
    }
    if (!r.All.AnyFromField() && !r.Alt.AnyFromField()) return a;
    const ComPtr<MapFrame> frame = ComPtr<MapFrame>::Query(a.target);
    const ComPtr<MapSeriesFrame> series = frame ? CompanionOrNothing(&NewMapSeriesFrame) : ComPtr<MapSeriesFrame>();
    if (!series || !series->HasSeries(frame) || !series->IsSeriesEnabled(frame))
        a.why = NotAnchored::TargetWithoutSeries;
    return a;
}

}  // namespace crv
