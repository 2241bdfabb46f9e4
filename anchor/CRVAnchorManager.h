#pragma once
// The anchoring engine. A caller selects one element with SetAnchorElement, which reads its
// record and does all the work that does not depend on the page, then calls AnchorElement
// for every page on which the element is to be re-placed.
//
// Every public member reports its errors to the user through the error path and returns
// normally; the caller is never handed an error.

#include "anchor/AnchorRecord.h"
#include "anchor/ReferenceGeometry.h"
#include "anchor/PlacementPlan.h"
#include "host/HostClasses.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace crv {

// The class's dual default interface.
class _CRVAnchorManager : public Unknown {
public:
    static constexpr Guid IID = MakeGuid("9d3e6a10-4b7c-4e2f-a1d5-7c0b3e8f2a41");
    virtual void SetAnchorElement(const ComPtr<LayoutElement>& pElement) = 0;
    virtual bool IsAnchorElement(const ComPtr<LayoutElement>& pElement) = 0;
    virtual bool CanAnchor(const ComPtr<LayoutElement>& pElement) = 0;
    virtual int16_t AnchorPriority(const ComPtr<LayoutElement>& pElement) = 0;
    virtual void AnchorElement(const int32_t& PageNumber) = 0;
    virtual ComPtr<PropertyBag> MakeAnchorProperties() = 0;
    virtual void AddAnchorProperties(const ComPtr<LayoutElement>& pElement,
                                     const ComPtr<PropertyBag>& AnchorProperties) = 0;
    virtual void RemoveAnchorProperties(const ComPtr<LayoutElement>& pElement) = 0;
    virtual void Reset() = 0;

protected:
    ~_CRVAnchorManager() = default;
};

class CRVAnchorManager : public ComObject<_CRVAnchorManager> {
public:
    static constexpr const char* kModule = "CRVAnchorManager";

    // What the manager holds between calls, in this order.
    struct State {
        ComPtr<LayoutElement> AnchoredElement;
        // The record as read at selection; its "AnchorElement", "CanAnchor" and "Version"
        // are not read there and keep their defaults.
        AnchorRecord Record;
        ComPtr<MapSeriesFrame> SeriesFrame;
        ComPtr<MapFrame> ReferenceMapFrame;
        bool UseFieldDistances = false;
        ComPtr<LayoutElement> ReferenceElement;
        ComPtr<SeriesLayer> SeriesIndexLayer;
        ComPtr<FieldSet> IndexFields;
        ComPtr<PageFeature> CurrentPageFeature;
        bool ElementCanAnchor = false;
        bool ElementIsSet = false;
    };

    CRVAnchorManager();
    ~CRVAnchorManager() override;

    void SetAnchorElement(const ComPtr<LayoutElement>& pElement) override;
    bool IsAnchorElement(const ComPtr<LayoutElement>& pElement) override;
    bool CanAnchor(const ComPtr<LayoutElement>& pElement) override;
    int16_t AnchorPriority(const ComPtr<LayoutElement>& pElement) override;
    void AnchorElement(const int32_t& PageNumber) override;
    ComPtr<PropertyBag> MakeAnchorProperties() override;
    void AddAnchorProperties(const ComPtr<LayoutElement>& pElement,
                             const ComPtr<PropertyBag>& AnchorProperties) override;
    void RemoveAnchorProperties(const ComPtr<LayoutElement>& pElement) override;
    void Reset() override;

    const State& CurrentState() const { return s_; }

private:
    // The procedures a placement's steps are taken in (PlaceOnPage), with the state they write.
    struct Frames;
    void ReleaseReferences();

    State s_;
    AlternatePages alternatePages_;
};

}  // namespace crv
