#pragma once
// The form's controls as a host's own, reached through the C callbacks: the core keeps what
// each control shows, so the form's logic reads it without asking the host, and tells the host
// every change. The user's edits come back through UserText and UserValue.

#include "core/crvanchor_core.h"
#include "propertypage/Controls.h"

#include <string>

namespace crv::controls {

class CallbackFormWindow : public FormWindow {
public:
    // The user's edit of one control, raising its event as the toolkits' controls do. Refuses
    // (with ComError kInvalidPropertyValue and a message naming the control) an unknown id, a
    // control that is not enabled, or a value the control cannot take.
    virtual void UserText(const std::string& control, const std::string& text) = 0;
    virtual void UserValue(const std::string& control, int32_t value) = 0;
};

// The callbacks the next NewFormWindow() of this thread reaches its host through.
void UseCallbacks(const crv_form_callbacks& callbacks);

}  // namespace crv::controls
