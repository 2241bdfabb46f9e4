#pragma once
// Error reports in a window: a modal message box with the warning icon and an OK button,
// after the system beep.

#include "errors/ErrorHandling.h"

namespace crv {

class QtErrorSink final : public ErrorSink {
public:
    void ShowMessage(const std::string& title, const std::string& text) override;
    void Beep() override;
};

}  // namespace crv
