// The anchor form through the C interface: the property page every host shows, its controls
// the caller's own (CallbackControls), over an element of the open mirror.
#include "core/CallbackControls.h"
#include "core/Mirror.h"

#include "anchor/GeneralFunctions.h"
#include "objects/GenericObjects.h"
#include "propertypage/AnchorPropertyPage.h"
#include "propertypage/FormState.h"

struct crv_form {
    crv_mirror* mirror = nullptr;
    crv::ComPtr<crv::AnchorPropertyPage> page;
    crv::ComPtr<crv::objects::PageSiteImpl> site;

    crv::controls::CallbackFormWindow& Window() {
        return static_cast<crv::controls::CallbackFormWindow&>(page->Form().View());
    }
};

namespace crv::core {
namespace {

constexpr const char* kDescription =
#include "FormDescription.inc"
    ;

// A user's edit: refused when the control cannot take it, else the engine's reports during it.
template <class Edit>
crv_status UserEdit(crv_form* form, const char* control, char** reports_json, const char* function, Edit&& edit) {
    if (reports_json != nullptr) *reports_json = nullptr;
    return Guarded([&] {
        Require(form != nullptr && control != nullptr && reports_json != nullptr,
                (std::string(function) + ": the form, the control and the result must be given").c_str());
        const size_t before = static_cast<size_t>(form->mirror->reports.Count());
        const ElementPageScope own(*form->mirror, form->page->Form().TargetElement);
        try {
            edit(form->Window());
        } catch (const ComError& e) {
            throw Refused(std::string(function) + ": " + e.Description());
        }
        *reports_json = Give(Dump(form->mirror->reports.Since(before)));
    });
}

}  // namespace
}  // namespace crv::core

using namespace crv;
using namespace crv::core;

extern "C" {

crv_status crv_form_description(char** description_json) {
    if (description_json != nullptr) *description_json = nullptr;
    return Guarded([&] {
        Require(description_json != nullptr, "crv_form_description: the result must be given");
        *description_json = Give(kDescription);
    });
}

crv_status crv_form_open(crv_mirror* mirror, const char* element, const crv_form_callbacks* callbacks,
                         crv_form** form) {
    if (form != nullptr) *form = nullptr;
    return Guarded([&] {
        Require(mirror != nullptr && element != nullptr && callbacks != nullptr && form != nullptr,
                "crv_form_open: the mirror, the element, the callbacks and the form must be given");
        Require(callbacks->set_text != nullptr && callbacks->set_value != nullptr && callbacks->clear_list != nullptr &&
                    callbacks->add_entry != nullptr && callbacks->set_enabled != nullptr &&
                    callbacks->set_visible != nullptr,
                "crv_form_open: every callback must be set");
        if (mirror->form != nullptr) throw Refused("crv_form_open: a form is open already; close it first");
        const ComPtr<LayoutElement> target = mirror->Named("crv_form_open", element);
        if (!GeneralFunctions::HasAnchorProperties(target)) {
            throw Refused(std::string("crv_form_open: ") + support::QuotedValue(element) +
                          " has no anchor record; give it one first (an edit of its record with no change)");
        }
        auto f = std::make_unique<crv_form>();
        f->mirror = mirror;
        controls::UseCallbacks(*callbacks);
        f->page = ComPtr<AnchorPropertyPage>(new AnchorPropertyPage());
        f->site = ComPtr<objects::PageSiteImpl>(new objects::PageSiteImpl());
        f->page->SetPageSite(ComPtr<PropertyPageSite>(f->site));
        f->page->SetObjects(ComPtr<ObjectSet>(new objects::ObjectSetImpl({ComPtr<Unknown>(target)})));
        const ElementPageScope own(*mirror, target);
        f->page->Activate();
        f->page->Show();
        mirror->form = f.release();
        *form = mirror->form;
    });
}

void crv_form_close(crv_form* form) {
    if (form == nullptr) return;
    form->mirror->form = nullptr;
    if (form->page) form->page->Deactivate();
    delete form;
}

crv_status crv_form_user_text(crv_form* form, const char* control, const char* text, char** reports_json) {
    return UserEdit(form, control, reports_json, "crv_form_user_text", [&](controls::CallbackFormWindow& w) {
        Require(text != nullptr, "crv_form_user_text: the text must be given");
        w.UserText(control, text);
    });
}

crv_status crv_form_user_value(crv_form* form, const char* control, int32_t value, char** reports_json) {
    return UserEdit(form, control, reports_json, "crv_form_user_value",
                    [&](controls::CallbackFormWindow& w) { w.UserValue(control, value); });
}

crv_status crv_form_state(const crv_form* form, char** state_json) {
    if (state_json != nullptr) *state_json = nullptr;
    return Guarded([&] {
        Require(form != nullptr && state_json != nullptr, "crv_form_state: the form and the result must be given");
        json state = json::object();
        state["dirty"] = form->page->IsPageDirty();
        const json shown = json::parse(controls::FormStateJson(form->page->Form().View().Controls()));
        state["tabs"] = shown["tabs"];
        state["controls"] = shown["controls"];
        *state_json = Give(Dump(state));
    });
}

crv_status crv_form_apply(crv_form* form, char** result_json) {
    if (result_json != nullptr) *result_json = nullptr;
    return Guarded([&] {
        Require(form != nullptr && result_json != nullptr, "crv_form_apply: the form and the result must be given");
        crv_mirror& mirror = *form->mirror;
        Require(!mirror.reporting, "crv_form_apply: a report is being written; finish it first");
        const size_t before = static_cast<size_t>(mirror.reports.Count());
        // The page's Apply places the element for the page in force: the element's own page.
        {
            const ElementPageScope own(mirror, form->page->Form().TargetElement);
            form->page->Apply();
        }
        form->page->Form().PageDirty = false;
        json out = json::object();
        out["moves"] = mirror.Moves();
        out["custom"] = Tagged(form->page->Form().TargetElement->CustomProperty());
        out["error_reports"] = mirror.reports.Since(before);
        mirror.ChooseAgain();
        *result_json = Give(Dump(out));
    });
}

}  // extern "C"
