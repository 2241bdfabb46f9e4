#include "propertypage/FormState.h"

#include <nlohmann/json.hpp>

namespace crv::controls {

const char* KindName(ControlKind kind) {
    switch (kind) {
        case ControlKind::Tabs: return "tabs";
        case ControlKind::Check: return "check";
        case ControlKind::Option: return "option";
        case ControlKind::List: return "list";
        case ControlKind::DropDown: return "dropdown";
        case ControlKind::Text: return "text";
        case ControlKind::Button: return "button";
    }
    return "";
}

std::vector<NamedControl> NamedControls(const FormControls& c) {
    using K = ControlKind;
    return {{"sstabAnchorProperties", K::Tabs, c.sstabAnchorProperties, -1},
            {"chkAnchor", K::Check, c.chkAnchor, 0},
            {"OptAnchorTo_0", K::Option, c.OptAnchorTo.At(0), 0},
            {"OptAnchorTo_1", K::Option, c.OptAnchorTo.At(1), 0},
            {"lstElementNames", K::List, c.lstElementNames, 0},
            {"optMultiPage_0", K::Option, c.optMultiPage.At(0), 0},
            {"optMultiPage_1", K::Option, c.optMultiPage.At(1), 0},
            {"cmbAlternateType", K::DropDown, c.cmbAlternateType, 0},
            {"txtPageRange", K::Text, c.txtPageRange, 0},
            {"cmbAnchorFromAll", K::DropDown, c.cmbAnchorFromAll, 1},
            {"cmbAnchorToAll", K::DropDown, c.cmbAnchorToAll, 1},
            {"txtHDistanceAll", K::Text, c.txtHDistanceAll, 1},
            {"chkHDistanceFieldAll", K::Check, c.chkHDistanceFieldAll, 1},
            {"cmdHFieldAll", K::DropDown, c.cmdHFieldAll, 1},
            {"txtVDistanceAll", K::Text, c.txtVDistanceAll, 1},
            {"chkVDistanceFieldAll", K::Check, c.chkVDistanceFieldAll, 1},
            {"cmdVFieldAll", K::DropDown, c.cmdVFieldAll, 1},
            {"cmdGetCurrentXYPrimary", K::Button, c.cmdGetCurrentXYPrimary, 1},
            {"cmbAnchorFromAlt", K::DropDown, c.cmbAnchorFromAlt, 2},
            {"cmbAnchorToAlt", K::DropDown, c.cmbAnchorToAlt, 2},
            {"txtHDistanceAlt", K::Text, c.txtHDistanceAlt, 2},
            {"chkHDistanceFieldAlt", K::Check, c.chkHDistanceFieldAlt, 2},
            {"cmdHFieldAlt", K::DropDown, c.cmdHFieldAlt, 2},
            {"txtVDistanceAlt", K::Text, c.txtVDistanceAlt, 2},
            {"chkVDistanceFieldAlt", K::Check, c.chkVDistanceFieldAlt, 2},
            {"cmdVFieldAlt", K::DropDown, c.cmdVFieldAlt, 2},
            {"cmdMakeHorizontalOpposite", K::Button, c.cmdMakeHorizontalOpposite, 2},
            {"cmdGetCurrentXYAlternate", K::Button, c.cmdGetCurrentXYAlternate, 2},
            {"cmbAnchorPriority", K::DropDown, c.cmbAnchorPriority, 3}};
}

std::string FormStateJson(const FormControls& c) {
    using json = nlohmann::ordered_json;
    json tabs = json::object();
    tabs["current"] = c.sstabAnchorProperties->CurrentTab();
    json enabled = json::array();
    for (int i = 0; i < c.sstabAnchorProperties->TabCount(); ++i) enabled.push_back(c.sstabAnchorProperties->TabEnabled(i));
    tabs["enabled"] = std::move(enabled);
    json controls = json::object();
    for (const NamedControl& n : NamedControls(c)) {
        if (n.kind == ControlKind::Tabs) continue;
        json s = json::object();
        s["enabled"] = n.control->Enabled();
        s["visible"] = n.control->Visible();
        switch (n.kind) {
            case ControlKind::Check: s["value"] = static_cast<const CheckBox*>(n.control)->Value(); break;
            case ControlKind::Option: s["value"] = static_cast<const OptionButton*>(n.control)->Value() ? 1 : 0; break;
            case ControlKind::Text: s["text"] = static_cast<const TextBox*>(n.control)->Text(); break;
            case ControlKind::List:
            case ControlKind::DropDown: {
                const auto* list = static_cast<const ListControl*>(n.control);
                json entries = json::array();
                for (int i = 0; i < list->ListCount(); ++i) entries.push_back(list->List(i));
                s["entries"] = std::move(entries);
                s["index"] = list->ListIndex();
                break;
            }
            case ControlKind::Tabs:
            case ControlKind::Button: break;
        }
        controls[n.id] = std::move(s);
    }
    json out = json::object();
    out["tabs"] = std::move(tabs);
    out["controls"] = std::move(controls);
    return out.dump(-1, ' ', false, json::error_handler_t::replace);
}

}  // namespace crv::controls
