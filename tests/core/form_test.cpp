// The anchor form through the core's callbacks, as a host whose controls are its own sees it:
// a host that builds its controls from the description and applies only what the callbacks
// tell it shows what the toolkit's page shows for the same element, the user's edits behave as
// they do there, and Apply places the element for the page in force.
//
// Environment: CRV_CORE_WORK also holds form-states.json, what the toolkit's page shows when it
// opens for each anchored element of the sample (crvanchor-pagecapture --states).
#include "tests/core/CoreTestSupport.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

namespace {

using namespace crv::coretest;

// A host's controls, built from the description in their initial state and changed by the
// callbacks alone.
class HostControls {
public:
    HostControls() {
        char* text = nullptr;
        EXPECT_EQ(crv_form_description(&text), CRV_OK) << crv_last_error();
        description_ = Taken(text);
        for (const json& tab : description_["tabs"]) Build(tab["items"]);
        view_["tabs"] = {{"current", 0}, {"enabled", json::array()}};
        for (size_t i = 0; i < description_["tabs"].size(); ++i) view_["tabs"]["enabled"].push_back(true);
        callbacks_ = {this, &SetText, &SetValue, &ClearList, &AddEntry, &SetEnabled, &SetVisible};
    }

    const crv_form_callbacks* Callbacks() const { return &callbacks_; }
    // The user's edit as the host's own widget shows it, before the host tells the form.
    void UserText(const char* id, const char* text) { SetText(this, id, text); }
    void UserValue(const char* id, int32_t value) {
        json* s = Control(id);
        if (s != nullptr && s->contains("value") && value == 1) {
            // An option button turned on turns the others of its array off.
            const std::string array = std::string(id).substr(0, std::string(id).rfind('_') + 1);
            for (auto& [other, state] : view_["controls"].items()) {
                if (other.rfind(array, 0) == 0 && other != id && other.find('_') != std::string::npos &&
                    state.contains("value")) {
                    state["value"] = 0;
                }
            }
        }
        if (s == nullptr || s->contains("index") || s->contains("value")) SetValue(this, id, value);
    }
    const json& View() const { return view_; }
    const json& Description() const { return description_; }
    // Calls that named a control the description lacks.
    const std::vector<std::string>& Unknown() const { return unknown_; }

private:
    void Build(const json& items) {
        for (const json& item : items) {
            const std::string kind = item["kind"];
            json state = {{"enabled", true}, {"visible", true}};
            if (kind == "group") {
                Build(item["items"]);
                continue;
            }
            if (kind == "label") continue;
            if (kind == "check" || kind == "option") state["value"] = 0;
            if (kind == "text") state["text"] = "";
            if (kind == "list" || kind == "dropdown") {
                state["entries"] = json::array();
                state["index"] = -1;
            }
            view_["controls"][item["id"].get<std::string>()] = state;
        }
    }
    json* Control(const char* id) {
        auto& controls = view_["controls"];
        if (!controls.contains(id)) {
            unknown_.push_back(id);
            return nullptr;
        }
        return &controls[id];
    }
    static HostControls& Of(void* context) { return *static_cast<HostControls*>(context); }
    static void SetText(void* c, const char* id, const char* text) {
        if (json* s = Of(c).Control(id)) (*s)["text"] = text;
    }
    static void SetValue(void* c, const char* id, int32_t value) {
        HostControls& host = Of(c);
        if (host.description_["tab_strip"] == id) {
            host.view_["tabs"]["current"] = value;
        } else if (json* s = host.Control(id)) {
            (*s)[s->contains("index") ? "index" : "value"] = value;
        }
    }
    static void ClearList(void* c, const char* id) {
        if (json* s = Of(c).Control(id)) {
            (*s)["entries"] = json::array();
            (*s)["index"] = -1;
        }
    }
    static void AddEntry(void* c, const char* id, const char* text) {
        if (json* s = Of(c).Control(id)) (*s)["entries"].push_back(text);
    }
    static void SetEnabled(void* c, const char* id, int32_t tab, int32_t on) {
        HostControls& host = Of(c);
        if (tab >= 0 && host.description_["tab_strip"] == id) {
            host.view_["tabs"]["enabled"][static_cast<size_t>(tab)] = on != 0;
        } else if (json* s = host.Control(id)) {
            (*s)["enabled"] = on != 0;
        }
    }
    static void SetVisible(void* c, const char* id, int32_t on) {
        if (json* s = Of(c).Control(id)) (*s)["visible"] = on != 0;
    }

    json description_;
    json view_ = json::object();
    std::vector<std::string> unknown_;
    crv_form_callbacks callbacks_{};
};

struct FormCloser {
    void operator()(crv_form* f) const { crv_form_close(f); }
};
using Form = std::unique_ptr<crv_form, FormCloser>;

Form OpenForm(crv_mirror* m, const char* element, const HostControls& host) {
    crv_form* f = nullptr;
    EXPECT_EQ(crv_form_open(m, element, host.Callbacks(), &f), CRV_OK) << crv_last_error();
    return Form(f);
}

json State(const crv_form* f) {
    char* out = nullptr;
    EXPECT_EQ(crv_form_state(f, &out), CRV_OK) << crv_last_error();
    return Taken(out);
}

// The state without whether there is anything to apply, as a host's controls show it.
json Shown(json state) {
    state.erase("dirty");
    return state;
}

json Text(crv_form* f, HostControls& host, const char* control, const char* text) {
    host.UserText(control, text);
    char* out = nullptr;
    EXPECT_EQ(crv_form_user_text(f, control, text, &out), CRV_OK) << control << ": " << crv_last_error();
    return Taken(out);
}

json Value(crv_form* f, HostControls& host, const char* control, int32_t value) {
    host.UserValue(control, value);
    char* out = nullptr;
    EXPECT_EQ(crv_form_user_value(f, control, value, &out), CRV_OK) << control << ": " << crv_last_error();
    return Taken(out);
}

int IndexOf(const json& entries, const std::string& entry) {
    for (size_t i = 0; i < entries.size(); ++i) {
        if (entries[i] == entry) return static_cast<int>(i);
    }
    return -1;
}

std::string Sample() { return ReadText(Env("CRV_CORE_WORK") + "/snapshot.json"); }

// The description names the four tabs and every control the form has, each once.
TEST(CoreForm, DescribesTheFormsTabsAndControls) {
    const HostControls host;
    const json& d = host.Description();
    std::vector<std::string> tabs;
    for (const json& tab : d["tabs"]) tabs.push_back(tab["label"]);
    EXPECT_EQ(tabs, (std::vector<std::string>{"Anchored To", "Primary Anchor", "Alternate Anchor", "Options"}));
    EXPECT_EQ(d["title"], "Anchor Properties");
    const Mirror m = Open(Sample(), "lakes_atlas.json");
    ASSERT_TRUE(m);
    const Form f = OpenForm(m.get(), "Title", host);
    ASSERT_TRUE(f);
    std::vector<std::string> described;
    for (const auto& [id, state] : host.View()["controls"].items()) described.push_back(id);
    std::vector<std::string> formed;
    const json state = State(f.get());
    for (const auto& [id, shown] : state["controls"].items()) formed.push_back(id);
    std::sort(described.begin(), described.end());
    std::sort(formed.begin(), formed.end());
    EXPECT_EQ(described, formed);
    EXPECT_EQ(host.Unknown(), std::vector<std::string>());
}

// The buttons that measure where the element stands now fill the distances in the user's
// format, through the callbacks.
// An element of a second page 14 inches tall is measured against its own page, also after
// a page was placed (whose elements stood on other pages).
TEST(CoreForm, MeasuresTheCurrentDistances) {
    json sample = json::parse(Sample());
    json note;
    for (const json& e : sample["elements"]) {
        if (e["name"] == "Title") note = e;
    }
    note["name"] = "Note";
    note["layout_page"] = 1;
    note["page_size"] = {8.5, 14};
    sample["elements"].push_back(note);
    const struct {
        const char* element;
        double top;  // of the page it stands on
        bool placed;  // a page placed before
    } cases[] = {{"Title", 11, false}, {"Title", 11, true}, {"Note", 14, false}, {"Note", 14, true}};
    for (const auto& c : cases) {
        const Mirror m = Open(sample.dump(), "lakes_atlas.json");
        ASSERT_TRUE(m);
        if (c.placed) PlacePage(m.get(), 1);
        HostControls host;
        const Form f = OpenForm(m.get(), c.element, host);
        ASSERT_TRUE(f);
        ASSERT_TRUE(crv_mirror_set_rect(m.get(), c.element, 1, c.top - 2, 3, c.top - 1.5) == CRV_OK) << crv_last_error();
        EXPECT_EQ(Value(f.get(), host, "cmdGetCurrentXYPrimary", 1), json::array());
        // Its top center against its page's (8.5 inches wide).
        EXPECT_EQ(host.View()["controls"]["txtHDistanceAll"]["text"], "-2.25") << c.element << c.placed;
        EXPECT_EQ(host.View()["controls"]["txtVDistanceAll"]["text"], "-1.50") << c.element << c.placed;
        EXPECT_EQ(Shown(State(f.get())), host.View());
        EXPECT_TRUE(State(f.get())["dirty"]);
    }
}

// For every anchored element of the sample, a host's controls after the callbacks show what
// the toolkit's page shows, and what the form says it shows.
TEST(CoreForm, ShowsWhatTheToolkitsPageShowsForEachElement) {
    const json expected = json::parse(ReadText(Env("CRV_CORE_WORK") + "/form-states.json"));
    ASSERT_GE(expected["elements"].size(), 5u);
    const Mirror m = Open(Sample(), "lakes_atlas.json");
    ASSERT_TRUE(m);
    for (const json& e : expected["elements"]) {
        const std::string name = e["element"];
        const HostControls host;
        const Form f = OpenForm(m.get(), name.c_str(), host);
        ASSERT_TRUE(f) << name;
        const json state = State(f.get());
        EXPECT_EQ(Shown(state), e["state"]) << name;
        EXPECT_EQ(host.View(), e["state"]) << name;
        EXPECT_EQ(state["dirty"], false) << name;
    }
}

// The user's edits as on the toolkit's page: choosing what to anchor to switches the controls
// that depend on it, each edit is kept for Apply, and Apply stores the record and places the
// element for the page in force, where the map-book command's record edit places it too.
TEST(CoreForm, EditsAndAppliesAsThePageDoes) {
    json applied;
    {
        const Mirror m = Open(Sample(), "lakes_atlas.json");
        ASSERT_TRUE(m);
        PlacePage(m.get(), 3);
        HostControls host;
        const Form f = OpenForm(m.get(), "Page Number", host);
        ASSERT_TRUE(f);
        Value(f.get(), host, "OptAnchorTo_1", 1);
        json s = State(f.get());
        EXPECT_TRUE(s["dirty"]);
        EXPECT_TRUE(s["controls"]["lstElementNames"]["enabled"]);
        EXPECT_EQ(s["controls"]["OptAnchorTo_0"]["value"], 0);
        const int map = IndexOf(s["controls"]["lstElementNames"]["entries"], "Main Map");
        ASSERT_GE(map, 0);
        Value(f.get(), host, "lstElementNames", map);
        Value(f.get(), host, "cmbAnchorToAll", 6);  // Bottom Left
        Value(f.get(), host, "cmbAnchorFromAll", 6);
        Text(f.get(), host, "txtHDistanceAll", "0.25");
        Text(f.get(), host, "txtVDistanceAll", "-0.5");
        s = State(f.get());
        EXPECT_EQ(Shown(s), host.View());
        EXPECT_EQ(host.Unknown(), std::vector<std::string>());

        char* out = nullptr;
        ASSERT_EQ(crv_form_apply(f.get(), &out), CRV_OK) << crv_last_error();
        applied = Taken(out);
        EXPECT_EQ(applied["error_reports"], json::array());
        EXPECT_FALSE(State(f.get())["dirty"]);
        EXPECT_NE(applied["custom"].dump().find("Main Map"), std::string::npos);
        // Placed for page 3 already: placing it again moves nothing.
        const json again = PlacePage(m.get(), 3);
        for (const json& move : again["moves"]) EXPECT_NE(move["element"], "Page Number") << move;
    }
    bool moved = false;
    const Mirror m = Open(Sample(), "lakes_atlas.json");
    ASSERT_TRUE(m);
    EditRecord(m.get(), "Page Number",
               {"AnchorType=NamedElement", "ElementName=Main Map", "AnchorFromAll=Bottom Left",
                "AnchorToAll=Bottom Left", "HDistanceAll=0.25", "VDistanceAll=-0.5"});
    const json page = PlacePage(m.get(), 3);
    for (const json& move : applied["moves"]) {
        if (move["element"] != "Page Number") continue;
        moved = true;
        // The same place, reached from where the element stood before: the sums may differ in
        // their last digit.
        bool same = false;
        for (const json& e : page["record"]["elements"]) {
            if (e["name"] != "Page Number") continue;
            same = true;
            for (size_t i = 0; i < 4; ++i) same = same && std::abs(e["rect"][i].get<double>() - move["rect"][i].get<double>()) < 1e-9;
        }
        EXPECT_TRUE(same) << move << " against " << page["record"];
    }
    EXPECT_TRUE(moved) << applied;
}

// What a host's control cannot take is refused in one line naming the control, and changes
// nothing; a form needs an element with a record, and one form is open at a time.
TEST(CoreForm, RefusesWhatTheControlsCannotTake) {
    const Mirror m = Open(Sample(), "lakes_atlas.json");
    ASSERT_TRUE(m);
    const HostControls host;
    const Form f = OpenForm(m.get(), "Title", host);
    ASSERT_TRUE(f);
    const json before = State(f.get());
    char* out = nullptr;
    crv_form* second = nullptr;
    const struct {
        const char* what;
        std::function<crv_status()> call;
        const char* message;
    } cases[] = {
        {"text for a check box", [&] { return crv_form_user_text(f.get(), "chkAnchor", "1", &out); },
         "crv_form_user_text: chkAnchor is a check, not a text box: it takes a value"},
        {"a value for a text box", [&] { return crv_form_user_value(f.get(), "txtHDistanceAll", 1, &out); },
         "crv_form_user_value: txtHDistanceAll is a text box: it takes text"},
        {"a disabled control", [&] { return crv_form_user_text(f.get(), "txtPageRange", "1-3", &out); },
         "crv_form_user_text: txtPageRange is not enabled: the user cannot edit it now"},
        {"an entry past the end", [&] { return crv_form_user_value(f.get(), "cmbAnchorFromAll", 9, &out); },
         "crv_form_user_value: cmbAnchorFromAll has 9 entries; 9 is not one of them (-1 chooses none)"},
        {"a check box state of 3", [&] { return crv_form_user_value(f.get(), "chkAnchor", 3, &out); },
         "crv_form_user_value: chkAnchor takes 0 (clear), 1 (checked) or 2 (greyed), not 3"},
        {"an option turned off", [&] { return crv_form_user_value(f.get(), "OptAnchorTo_0", 0, &out); },
         "crv_form_user_value: OptAnchorTo_0 is turned on by the user (1), never off"},
        {"a disabled tab", [&] { return crv_form_user_value(f.get(), "sstabAnchorProperties", 2, &out); },
         "crv_form_user_value: sstabAnchorProperties: tab 2 is not an enabled tab"},
        {"a control on a disabled tab", [&] { return crv_form_user_value(f.get(), "cmbAnchorFromAlt", 2, &out); },
         "crv_form_user_value: cmbAnchorFromAlt stands on a tab that is not enabled: the user cannot reach it now"},
        {"no such control", [&] { return crv_form_user_value(f.get(), "cmdOK", 1, &out); },
         "crv_form_user_value: the form has no control cmdOK"},
        {"a second form", [&] { return crv_form_open(m.get(), "Legend", host.Callbacks(), &second); },
         "crv_form_open: a form is open already; close it first"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.call(), CRV_REFUSED) << c.what;
        EXPECT_EQ(out, nullptr) << c.what;
        EXPECT_NE(std::string(crv_last_error()).find(c.message), std::string::npos) << c.what << ": " << crv_last_error();
    }
    EXPECT_EQ(State(f.get()), before);
}

TEST(CoreForm, OpensOnlyOverAnElementWithARecord) {
    const Mirror m = Open(Sample(), "lakes_atlas.json");
    ASSERT_TRUE(m);
    const HostControls host;
    crv_form* f = nullptr;
    crv_form_callbacks partial = *host.Callbacks();
    partial.set_visible = nullptr;
    const struct {
        const char* what;
        const char* element;
        const crv_form_callbacks* callbacks;
        const char* message;
    } cases[] = {
        {"no such element", "Inset", host.Callbacks(), "crv_form_open: no element named \"Inset\""},
        {"no record", "Legend Grid", host.Callbacks(), "crv_form_open: \"Legend Grid\" has no anchor record"},
        {"a callback missing", "Title", &partial, "crv_form_open: every callback must be set"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(crv_form_open(m.get(), c.element, c.callbacks, &f), CRV_REFUSED) << c.what;
        EXPECT_EQ(f, nullptr) << c.what;
        EXPECT_NE(std::string(crv_last_error()).find(c.message), std::string::npos) << c.what << ": " << crv_last_error();
    }
}

}  // namespace
