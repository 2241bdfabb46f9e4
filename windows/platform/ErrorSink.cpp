// Reports shown where the program's user looks: a windowed program shows them as the platform
// shows a warning, in a message box with its sound; a program with a console or a redirected
// standard error (a script host, a build) writes them there, where nobody has to click them
// away and a log keeps them.
#include "errors/ErrorHandling.h"
#include "windows/platform/Text.h"

#include <windows.h>

namespace crv {

namespace {

class MessageBoxErrorSink final : public ErrorSink {
public:
    void ShowMessage(const std::string& title, const std::string& text) override {
        if (HasConsole()) {
            console_.ShowMessage(title, text);
            return;
        }
        MessageBoxW(GetActiveWindow(), win::Wide(text).c_str(), win::Wide(title).c_str(),
                    MB_OK | MB_ICONWARNING | MB_TASKMODAL);
    }
    void Beep() override {
        if (!HasConsole()) MessageBeep(MB_ICONWARNING);
    }

private:
    static bool HasConsole() {
        const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
        return GetConsoleWindow() != nullptr ||
               (error != nullptr && error != INVALID_HANDLE_VALUE && GetFileType(error) != FILE_TYPE_UNKNOWN);
    }

    StderrErrorSink console_;
};

}  // namespace

ErrorSink& PlatformErrorSink() {
    static MessageBoxErrorSink sink;
    return sink;
}

}  // namespace crv
