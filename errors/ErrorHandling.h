#pragma once
// The one error path of the component: every procedure traps its errors and hands them to
// HandleError, which either shows them (top-level) or passes them up with the procedure added
// to the call stack (nested).

#include "errors/ComError.h"

#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace crv {

// Where reports go: a message box and beep in a window, standard error on a command line,
// a recorder in tests. The host installs one; the default writes to standard error.
class ErrorSink {
public:
    virtual ~ErrorSink() = default;
    virtual void ShowMessage(const std::string& title, const std::string& text) = 0;
    virtual void Beep() = 0;
};

class StderrErrorSink final : public ErrorSink {
public:
    void ShowMessage(const std::string& title, const std::string& text) override;
    void Beep() override;
    int Count() const { return count_; }

private:
    int count_ = 0;
};

class RecordingErrorSink final : public ErrorSink {
public:
    struct Report {
        std::string title;
        std::string text;
    };
    void ShowMessage(const std::string& title, const std::string& text) override { reports.push_back({title, text}); }
    void Beep() override { ++beeps; }

    std::vector<Report> reports;
    int beeps = 0;
};

// Where reports go when no sink is installed: standard error here, a message box on a
// platform where a library cannot assume a terminal.
ErrorSink& PlatformErrorSink();

// Installs a sink and returns the one it replaces; nullptr restores the default.
ErrorSink* InstallErrorSink(ErrorSink* sink);
ErrorSink& CurrentErrorSink();

// Installs a sink for the lifetime of the guard.
class ScopedErrorSink {
public:
    explicit ScopedErrorSink(ErrorSink& sink) : previous_(InstallErrorSink(&sink)) {}
    ~ScopedErrorSink() { InstallErrorSink(previous_); }
    ScopedErrorSink(const ScopedErrorSink&) = delete;
    ScopedErrorSink& operator=(const ScopedErrorSink&) = delete;

private:
    ErrorSink* previous_;
};

inline constexpr const char* kErrorBoxTitle = "Unexpected Program Error";

// "Line : N", or the empty string for line 0.
std::string ErrorLineInfo(int32_t line);

// Name, blank, "CRVAnchor:" + module, blank, line information.
std::string ProcedureId(std::string_view name, std::string_view module, int32_t line = 0);

// The formatted-error flag of the calling thread.
bool FormattedErrorFlag();

// Top-level: shows the report and returns. Nested: throws the error with this procedure added.
void HandleError(bool topLevel, const std::string& procedureId, int32_t number, const std::string& source,
                 const std::string& description);

// Turns whatever was thrown into the error value the handler expects.
ComError CurrentErrorAsComError(std::exception_ptr error);

// The error behind the result code an entry point last returned on this thread, kept for a
// caller that sees only the code (the library's registration entry points set it).
void SetErrorInfo(const ComError& error);
// Takes it, leaving none.
std::optional<ComError> TakeErrorInfo();

// A procedure's error path, written once. The body runs; any error goes to HandleError.
template <class Body>
auto Nested(const std::string& procedureId, Body&& body) -> decltype(body()) {
    try {
        return body();
    } catch (...) {
        const ComError e = CurrentErrorAsComError(std::current_exception());
        HandleError(false, procedureId, e.Number(), e.Source(), e.Description());
        throw;  // unreachable: a nested HandleError always raises
    }
}

template <class Result, class Body>
Result TopLevel(const std::string& procedureId, Result defaultResult, Body&& body) {
    try {
        return body();
    } catch (...) {
        const ComError e = CurrentErrorAsComError(std::current_exception());
        HandleError(true, procedureId, e.Number(), e.Source(), e.Description());
        return defaultResult;
    }
}

template <class Body>
void TopLevel(const std::string& procedureId, Body&& body) {
    try {
        body();
    } catch (...) {
        const ComError e = CurrentErrorAsComError(std::current_exception());
        HandleError(true, procedureId, e.Number(), e.Source(), e.Description());
    }
}

}  // namespace crv
