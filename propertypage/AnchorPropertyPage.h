#pragma once
// The anchor property page: offered among an element's properties when the element already
// carries an anchor record. The form edits a copy of the record; Apply stores a further copy
// and re-places the element for the page in force.

#include "host/PropertyPage.h"
#include "propertypage/frmAnchorPropertyPage.h"

#include <memory>

namespace crv {

class AnchorPropertyPage : public ComObject<IComPropertyPage> {
public:
    static constexpr const char* kModule = "AnchorPropertyPage";
    static constexpr const char* kTitle = "Anchor";
    static constexpr const char* kProgId = "CRVAnchor.AnchorPropertyPage";

    // The page's form is a window: it can only be made in a process that can make windows (with
    // Qt, one that runs a widget application). Raises a clear error in any other process, where
    // making it would abort.
    static void RequireWidgetApplication();

    // Needs a widget application (RequireWidgetApplication); a class factory checks first.
    AnchorPropertyPage();
    ~AnchorPropertyPage() override;

    std::string Title() override;
    void SetTitle(const std::string& title) override;
    int32_t Priority() override;
    void SetPriority(int32_t priority) override;
    int32_t Width() override;
    int32_t Height() override;
    std::string HelpFile() override;
    int32_t HelpContextID(int32_t controlID) override;
    bool IsPageDirty() override;
    void SetPageSite(const ComPtr<PropertyPageSite>& site) override;
    bool Applies(const ComPtr<ObjectSet>& objects) override;
    void SetObjects(const ComPtr<ObjectSet>& objects) override;
    intptr_t Activate() override;
    void Show() override;
    void Hide() override;
    void Deactivate() override;
    void Apply() override;
    void Cancel() override;

    // The form, for a host that embeds its window.
    frmAnchorPropertyPage& Form() { return *Form_; }

private:
    std::unique_ptr<frmAnchorPropertyPage> Form_;
    ComPtr<PropertyBag> ElementProperties;
    ComPtr<LayoutElement> Element;
};

}  // namespace crv
