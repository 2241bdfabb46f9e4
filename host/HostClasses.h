#pragma once
// The classes the component creates by class id. A host registers a factory for each in the
// class table when it starts.

#include "com/ClassTable.h"
#include "host/Companions.h"
#include "host/Data.h"
#include "host/Geometry.h"
#include "host/Layout.h"

namespace crv {

namespace clsid {
inline constexpr Guid HostApplication = MakeGuid("a5d33a3b-b398-45b9-b5f8-c5121944917c");
inline constexpr Guid PropertyBag = MakeGuid("2d86ac26-2889-40ca-bca9-50f69bafe667");
inline constexpr Guid Envelope = MakeGuid("4b695c08-869a-40d3-8513-6d60a067d6b5");
inline constexpr Guid Polygon = MakeGuid("af068ab4-292c-4f89-9532-5e9259bcbb8d");
inline constexpr Guid GeometryPoint = MakeGuid("b9650851-4e5c-475e-9059-1778d1db65e7");
inline constexpr Guid ObjectCopier = MakeGuid("16000e70-1393-4d75-b722-dff70e5c3003");
inline constexpr Guid HostUID = MakeGuid("5c52a1bc-0245-4097-a9b6-14612c6cd80a");
inline constexpr Guid CategoryRegistrar = MakeGuid("54bc0a58-995d-4197-9968-804b9ffb35d7");
inline constexpr Guid MapSeriesFrame = MakeGuid("412fd3d3-3fa6-467e-8f15-0be5bdca68a2");
inline constexpr Guid ActiveLayoutInfo = MakeGuid("22a8640e-dd9f-4ea2-8881-e632d0ab734b");
inline constexpr Guid SeriesLayoutInfo = MakeGuid("8f4fab70-3010-40a3-b6d4-46c951efb3d5");
inline constexpr Guid SectionTemplateInfo = MakeGuid("182d96b6-3cdf-43c7-9145-7c06beda9c0c");
}  // namespace clsid

// A new reference to the running application.
inline ComPtr<HostApplication> RunningApplication() { return CreateObject<HostApplication>(clsid::HostApplication); }
inline ComPtr<PropertyBag> NewPropertyBag() { return CreateObject<PropertyBag>(clsid::PropertyBag); }
inline ComPtr<Envelope> NewEnvelope() { return CreateObject<Envelope>(clsid::Envelope); }
inline ComPtr<Polygon> NewPolygon() { return CreateObject<Polygon>(clsid::Polygon); }
inline ComPtr<GeometryPoint> NewGeometryPoint() { return CreateObject<GeometryPoint>(clsid::GeometryPoint); }
inline ComPtr<ObjectCopier> NewObjectCopier() { return CreateObject<ObjectCopier>(clsid::ObjectCopier); }
inline ComPtr<HostUID> NewHostUID() { return CreateObject<HostUID>(clsid::HostUID); }
inline ComPtr<CategoryRegistrar> NewCategoryRegistrar() {
    return CreateObject<CategoryRegistrar>(clsid::CategoryRegistrar);
}
inline ComPtr<MapSeriesFrame> NewMapSeriesFrame() { return CreateObject<MapSeriesFrame>(clsid::MapSeriesFrame); }
inline ComPtr<ActiveLayoutInfo> NewActiveLayoutInfo() {
    return CreateObject<ActiveLayoutInfo>(clsid::ActiveLayoutInfo);
}
inline ComPtr<SeriesLayoutInfo> NewSeriesLayoutInfo() {
    return CreateObject<SeriesLayoutInfo>(clsid::SeriesLayoutInfo);
}
inline ComPtr<SectionTemplateInfo> NewSectionTemplateInfo() {
    return CreateObject<SectionTemplateInfo>(clsid::SectionTemplateInfo);
}

// A companion object, or no object where no companion is installed: the companions are
// optional, and their absence means no multi-page layout and no map series.
template <class I>
ComPtr<I> CompanionOrNothing(ComPtr<I> (*create)()) {
    try {
        return create();
    } catch (const ComError& e) {
        if (e.Number() == hresult::kClassNotRegistered) return {};
        throw;
    }
}

}  // namespace crv
