#include "propertypage/AnchorPropertyPage.h"

#include "anchor/CRVAnchorManager.h"
#include "anchor/PlacementPlan.h"
#include "anchor/GeneralFunctions.h"
#include "errors/ErrorHandling.h"

namespace crv {

namespace {

namespace gf = GeneralFunctions;

std::string Id(const char* name) { return ProcedureId(name, AnchorPropertyPage::kModule); }

}  // namespace

void AnchorPropertyPage::RequireWidgetApplication() {
    if (!controls::WindowsCanBeMade()) {
        Raise(hresult::kFail, kProgId,
              std::string(kProgId) +
                  " can only be created in a program with a graphical user interface (a running "
                  "QApplication); this program has none.");
    }
}

AnchorPropertyPage::AnchorPropertyPage() {
    TopLevel(Id("Class_Initialize"), [&] {
        Form_ = std::make_unique<frmAnchorPropertyPage>();
        // The toolkits measure in pixels already, so Width and Height need no scale change.
        Form_->View();
    });
}

AnchorPropertyPage::~AnchorPropertyPage() {
    TopLevel(Id("Class_Terminate"), [&] {
        if (Form_) Form_->Unload();
        Form_.reset();
        ElementProperties.Reset();
        Element.Reset();
    });
}

std::string AnchorPropertyPage::Title() {
    return TopLevel(Id("IComPropertyPage_Title"), std::string(), [&] { return std::string(kTitle); });
}

void AnchorPropertyPage::SetTitle(const std::string&) {}

int32_t AnchorPropertyPage::Priority() {
    return TopLevel(Id("IComPropertyPage_Priority"), int32_t{0}, [&] { return int32_t{1}; });
}

void AnchorPropertyPage::SetPriority(int32_t) {}

int32_t AnchorPropertyPage::Width() {
    return TopLevel(Id("IComPropertyPage_Width"), int32_t{0}, [&] { return int32_t{Form_->View().Width()}; });
}

int32_t AnchorPropertyPage::Height() {
    return TopLevel(Id("IComPropertyPage_Height"), int32_t{0}, [&] { return int32_t{Form_->View().Height()}; });
}

std::string AnchorPropertyPage::HelpFile() { return {}; }

int32_t AnchorPropertyPage::HelpContextID(int32_t) { return 0; }

bool AnchorPropertyPage::IsPageDirty() {
    return TopLevel(Id("IComPropertyPage_IsPageDirty"), false, [&] { return Form_->PageDirty; });
}

void AnchorPropertyPage::SetPageSite(const ComPtr<PropertyPageSite>& site) {
    TopLevel(Id("IComPropertyPage_PageSite"), [&] { Form_->PageSite = site; });
}

bool AnchorPropertyPage::Applies(const ComPtr<ObjectSet>& objects) {
    return TopLevel(Id("IComPropertyPage_Applies"), false, [&] {
        objects->Reset();
        for (ComPtr<Unknown> object = objects->Next(); object; object = objects->Next()) {
            const auto element = ComPtr<LayoutElement>::Query(object);
            if (element && gf::HasAnchorProperties(element)) return true;
        }
        return false;
    });
}

void AnchorPropertyPage::SetObjects(const ComPtr<ObjectSet>& objects) {
    TopLevel(Id("IComPropertyPage_SetObjects"), [&] {
        objects->Reset();
        for (ComPtr<Unknown> object = objects->Next(); object; object = objects->Next()) {
            const auto element = ComPtr<LayoutElement>::Query(object);
            if (!element || !gf::HasAnchorProperties(element)) continue;
            ElementProperties = gf::GetAnchorProperties(element);
            Element = element;
        }
        const ComPtr<Unknown> copy = NewObjectCopier()->Copy(ComPtr<Unknown>::Query(ElementProperties));
        Form_->WorkingProperties = gf::ToPropertyBag(Variant(copy));
        Form_->TargetElement = Element;
    });
}

intptr_t AnchorPropertyPage::Activate() {
    return TopLevel(Id("IComPropertyPage_Activate"), intptr_t{0}, [&] { return Form_->View().Handle(); });
}

void AnchorPropertyPage::Show() {
    TopLevel(Id("IComPropertyPage_Show"), [&] { Form_->Show(); });
}

void AnchorPropertyPage::Hide() {
    TopLevel(Id("IComPropertyPage_Hide"), [&] { Form_->Hide(); });
}

void AnchorPropertyPage::Deactivate() {
    TopLevel(Id("IComPropertyPage_Deactivate"), [&] { Form_->Unload(); });
}

void AnchorPropertyPage::Apply() {
    TopLevel(Id("IComPropertyPage_Apply"), [&] {
        const ComPtr<Unknown> copy = NewObjectCopier()->Copy(ComPtr<Unknown>::Query(Form_->WorkingProperties));
        gf::SetAnchorProperties(Element, gf::ToPropertyBag(Variant(copy)));
        ComPtr<_CRVAnchorManager> manager = MakeCom<_CRVAnchorManager, CRVAnchorManager>();
        if (!manager->CanAnchor(Element)) return;
        manager->SetAnchorElement(Element);
        const int32_t page = PageInForce();
        manager->AnchorElement(page);
    });
}

void AnchorPropertyPage::Cancel() {}

}  // namespace crv
