#pragma once
// The form's controls by the names its window gives them, and what each shows: the one table
// that a backend whose controls are a host's own names them by, and the state that any backend's
// form can be compared by, whatever toolkit draws it.

#include "propertypage/Controls.h"

#include <string>
#include <vector>

namespace crv::controls {

enum class ControlKind { Tabs, Check, Option, List, DropDown, Text, Button };

struct NamedControl {
    const char* id;  // the control's name in the form; an option button's is its array's and index
    ControlKind kind;
    Control* control;
    int tab;  // the tab it stands on; -1 for the tab strip
};

// "tabs", "check", "option", "list", "dropdown", "text" or "button".
const char* KindName(ControlKind kind);

// Every control of the form, tab strip first, in the order the form lays them out.
std::vector<NamedControl> NamedControls(const FormControls& controls);

// What the controls show, as JSON text: {"tabs": {"current", "enabled": [...]}, "controls":
// {ID: {"enabled", "visible", and "value" (check box 0-2, option button 0 or 1), "text" (text
// box), or "entries" and "index" (lists)}}}.
std::string FormStateJson(const FormControls& controls);

}  // namespace crv::controls
