#pragma once
// The layout and record the page captures show: a title anchored to a map series frame with
// alternate settings, among elements of every kind the page lists or leaves out.

#include "anchor/AnchorRecord.h"
#include "anchor/GeneralFunctions.h"
#include "standalone/host/StandaloneHost.h"

namespace crv::tools {

inline objects::SeriesData SampleAtlasSeries() {
    objects::SeriesData data;
    data.name = "Atlas Pages";
    data.fields = {{"PageName", fieldtype::kString},
                   {"XOffset", fieldtype::kDouble},
                   {"Created", fieldtype::kDate},
                   {"YOffset", fieldtype::kSmallInteger},
                   {"OBJECTID", fieldtype::kObjectId}};
    data.features = {{Variant("North"), Variant(0.5), Variant::Null(), Variant(int16_t{1}), Variant(int32_t{1})},
                     {Variant("South"), Variant(-0.5), Variant::Null(), Variant(int16_t{2}), Variant(int32_t{2})}};
    return data;
}

// Fills the host's layout and returns the element whose record the page shows.
inline ComPtr<LayoutElement> AddSamplePage(standalone::StandaloneHost& host) {
    using standalone::ElementKind;
    auto title = host.AddText("Title", {1, 9.5, 7.5, 10.5}, "Northern Region");
    host.AddText("Legend", {6, 1, 8, 4});
    auto map = host.AddMapFrame("Main Map", {0.5, 0.5, 8, 9}, 0.05);
    host.AttachSeries(map, SampleAtlasSeries());
    host.AddGroup("Scale and North Arrow", ElementKind::Group,
                  {host.Make(ElementKind::Text, "Scale Bar", {1, 1, 3, 1.4}),
                   host.Make(ElementKind::Picture, "North Arrow", {3.5, 1, 4, 1.8})});
    host.AddText("CRVAdjacentPageListing West", {0, 5, 0.4, 6});

    ComPtr<PropertyBag> record = GeneralFunctions::NewAnchorProperties();
    record->SetProperty(key::AnchorElement, true);
    record->SetProperty(key::AnchorType, "NamedElement");
    record->SetProperty(key::ElementName, "Main Map");
    record->SetProperty(key::UseAltAnchoring, true);
    record->SetProperty(key::AltAnchorType, kAltPageRange);
    record->SetProperty(key::AltAnchorPageRange, "1,3,5-12");
    record->SetProperty(key::AnchorFromAll, int16_t{7});
    record->SetProperty(key::AnchorToAll, int16_t{1});
    record->SetProperty(key::HDistanceAll, 0.25);
    record->SetProperty(key::VDistanceAll, "0.5");
    record->SetProperty(key::HFromFieldAll, true);
    record->SetProperty(key::HFieldNameAll, "XOffset");
    record->SetProperty(key::AnchorFromAlt, int16_t{6});
    record->SetProperty(key::AnchorToAlt, int16_t{2});
    record->SetProperty(key::HDistanceAlt, -0.25);
    record->SetProperty(key::VFieldNameAlt, "YOffset");
    record->SetProperty(key::AnchorPriority, kPriorityLow);
    GeneralFunctions::SetAnchorProperties(title, record);
    return title;
}

}  // namespace crv::tools
