#pragma once
// The form's controls over Windows' own controls, in the dialogs of AnchorPropertyPage.rc: the
// page is a child dialog with a tab control, and each tab shows a child dialog of its own. A
// control's notification reports the user's edit; what code changes raises no notification
// here, since Controls.h raises the event itself.

#include "propertypage/Controls.h"

#include <windows.h>

#include <string_view>

namespace crv::controls {

// The control of a page's window by its name in the form ("chkAnchor"), or null.
HWND FindControl(HWND form, std::string_view name);

}  // namespace crv::controls
