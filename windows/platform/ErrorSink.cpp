// Reports shown as the platform shows a program's warnings: a message box with its sound. A
// program on a console installs a sink that writes to standard error instead.
#include "errors/ErrorHandling.h"
#include "windows/platform/Text.h"

#include <windows.h>

namespace crv {

namespace {

class MessageBoxErrorSink final : public ErrorSink {
public:
    void ShowMessage(const std::string& title, const std::string& text) override {
        MessageBoxW(GetActiveWindow(), win::Wide(text).c_str(), win::Wide(title).c_str(),
                    MB_OK | MB_ICONWARNING | MB_TASKMODAL);
    }
    void Beep() override { MessageBeep(MB_ICONWARNING); }
};

}  // namespace

ErrorSink& PlatformErrorSink() {
    static MessageBoxErrorSink sink;
    return sink;
}

}  // namespace crv
