#pragma once
// The property page as the library hands it out: besides its default interface, the host's
// page protocol refuses calls from any thread but the one that created the page.

#include "com/Apartment.h"
#include "propertypage/AnchorPropertyPage.h"

namespace crv {

class LibraryPropertyPage : public AnchorPropertyPage {
public:
    std::string Title() override {
        return Checked([&] { return AnchorPropertyPage::Title(); });
    }
    void SetTitle(const std::string& title) override {
        Checked([&] { AnchorPropertyPage::SetTitle(title); });
    }
    int32_t Priority() override {
        return Checked([&] { return AnchorPropertyPage::Priority(); });
    }
    void SetPriority(int32_t priority) override {
        Checked([&] { AnchorPropertyPage::SetPriority(priority); });
    }
    int32_t Width() override {
        return Checked([&] { return AnchorPropertyPage::Width(); });
    }
    int32_t Height() override {
        return Checked([&] { return AnchorPropertyPage::Height(); });
    }
    std::string HelpFile() override {
        return Checked([&] { return AnchorPropertyPage::HelpFile(); });
    }
    int32_t HelpContextID(int32_t id) override {
        return Checked([&] { return AnchorPropertyPage::HelpContextID(id); });
    }
    bool IsPageDirty() override {
        return Checked([&] { return AnchorPropertyPage::IsPageDirty(); });
    }
    void SetPageSite(const ComPtr<PropertyPageSite>& site) override {
        Checked([&] { AnchorPropertyPage::SetPageSite(site); });
    }
    bool Applies(const ComPtr<ObjectSet>& objects) override {
        return Checked([&] { return AnchorPropertyPage::Applies(objects); });
    }
    void SetObjects(const ComPtr<ObjectSet>& objects) override {
        Checked([&] { AnchorPropertyPage::SetObjects(objects); });
    }
    intptr_t Activate() override {
        return Checked([&] { return AnchorPropertyPage::Activate(); });
    }
    void Show() override {
        Checked([&] { AnchorPropertyPage::Show(); });
    }
    void Hide() override {
        Checked([&] { AnchorPropertyPage::Hide(); });
    }
    void Deactivate() override {
        Checked([&] { AnchorPropertyPage::Deactivate(); });
    }
    void Apply() override {
        Checked([&] { AnchorPropertyPage::Apply(); });
    }
    void Cancel() override {
        Checked([&] { AnchorPropertyPage::Cancel(); });
    }

private:
    template <class F>
    auto Checked(F&& f) -> decltype(f()) {
        apartment_.Require();
        return f();
    }
    Apartment apartment_;
};

}  // namespace crv
