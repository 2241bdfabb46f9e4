#pragma once
// The anchor form: shows one element's anchor record on four tabs and writes every edit
// back into the working record at once.
//
// The form object outlives its window: the window is created on first use (the load step)
// and destroyed by Unload; the members, PageDirty among them, survive in between. The window
// and its controls come from the toolkit's backend (Controls.h); this logic is the same for
// every toolkit.

#include "anchor/AnchorRecord.h"
#include "host/HostClasses.h"
#include "propertypage/Controls.h"

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

namespace crv {

class frmAnchorPropertyPage {
public:
    static constexpr const char* kModule = "frmAnchorPropertyPage";

    frmAnchorPropertyPage();
    ~frmAnchorPropertyPage();
    frmAnchorPropertyPage(const frmAnchorPropertyPage&) = delete;
    frmAnchorPropertyPage& operator=(const frmAnchorPropertyPage&) = delete;

    // Set and read by the page adapter.
    ComPtr<PropertyBag> WorkingProperties;
    ComPtr<LayoutElement> TargetElement;
    ComPtr<PropertyPageSite> PageSite;
    bool PageDirty = false;

    // The window, created with its controls on first use: the toolkit's own, and the backend's
    // view of it (size, handle, controls).
    controls::NativeWindow Window() { return View().Window(); }
    controls::FormWindow& View();
    bool IsLoaded() const { return window_ != nullptr; }
    // Makes the window visible and runs the activation step.
    void Show();
    void Hide();
    void Unload();

    // Reads the working record into the members and fills the controls.
    void Form_Activate();

    // Measurements of the edited element against the rule's reference points; no object
    // when they cannot be made.
    ComPtr<GeometryPoint> GetXYDistanceFromPage(bool primary);
    ComPtr<GeometryPoint> GetXYDistanceFromElement(bool primary);

private:
    void Load();
    const controls::FormControls& Controls() const { return window_->Controls(); }
    void Form_Load();
    void Form_Unload();
    void Connect();

    void PopulateForm();
    void PopulateFieldCombos();
    void UpdateProperties();
    // Sets HasMapSeries and the series members from the reference element.
    void CheckReferenceMapSeries();

    // The alternate anchor's tab and the choice of its pages, open only when it is used.
    void ShowAlternate(bool alternate);
    // The chosen points of the element and of what it is anchored to.
    std::pair<int, int> ChosenPoints(bool primary) const;

    void StoreOnEdit(const char* handler);
    void cmbAlternateType_Click();
    void OptAnchorTo_Click(int Index);
    void lstElementNames_Click();
    void optMultiPage_Click(int Index);
    void cmdGetCurrentXYPrimary_Click();
    void cmdGetCurrentXYAlternate_Click();
    void cmdMakeHorizontalOpposite_Click();
    void GetCurrentXY(const char* handler, bool primary);

    std::unique_ptr<controls::FormWindow> window_;

    bool IsLoading = false;

    // The record's values as the activation step read them ("CanAnchor" excepted). The option
    // buttons and the element list keep AnchorType and ElementName current; "CanAnchor" is
    // the summary the last save computed.
    AnchorRecord Values;

    bool HasMapSeries = false;
    ComPtr<MapFrame> ReferenceMapFrame;
    ComPtr<MapSeriesFrame> SeriesFrame;
    ComPtr<SeriesLayer> SeriesIndexLayer;
};

}  // namespace crv
