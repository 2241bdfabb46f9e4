#include "errors/ErrorHandling.h"

#include <cstdio>
#include <iostream>
#include <new>

namespace crv {
namespace {

constexpr const char* kCrLf = "\r\n";

ErrorSink* g_sink = nullptr;

// One flag per thread: a formatted error travelling up through nested procedures.
thread_local bool t_formatted = false;

thread_local std::optional<ComError> t_error_info;

std::string ErrorBlock(int32_t number, const std::string& description) {
    std::string block;
    block += kCrLf;
    block += "Error Number ";
    block += kCrLf;
    block += '\t';
    block += std::to_string(number);
    block += kCrLf;
    block += "Description";
    block += kCrLf;
    block += '\t';
    block += description;
    block += kCrLf;
    block += kCrLf;
    return block;
}

}  // namespace

void StderrErrorSink::ShowMessage(const std::string& title, const std::string& text) {
    ++count_;
    std::string plain;
    plain.reserve(text.size());
    for (char c : text) {
        if (c != '\r') plain += c;
    }
    std::cerr << title << "\n" << plain << std::flush;
}

void StderrErrorSink::Beep() { std::fputc('\a', stderr); }

ErrorSink* InstallErrorSink(ErrorSink* sink) {
    ErrorSink* previous = g_sink;
    g_sink = sink;
    return previous;
}

ErrorSink& CurrentErrorSink() { return g_sink != nullptr ? *g_sink : PlatformErrorSink(); }

std::string ErrorLineInfo(int32_t line) {
    if (line == 0) return {};
    return "Line : " + std::to_string(line);
}

std::string ProcedureId(std::string_view name, std::string_view module, int32_t line) {
    std::string id(name);
    id += " CRVAnchor:";
    id += module;
    id += ' ';
    id += ErrorLineInfo(line);
    return id;
}

bool FormattedErrorFlag() { return t_formatted; }

void SetErrorInfo(const ComError& error) { t_error_info = error; }

std::optional<ComError> TakeErrorInfo() {
    std::optional<ComError> info = std::move(t_error_info);
    t_error_info.reset();
    return info;
}

ComError CurrentErrorAsComError(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const ComError& e) {
        return e;
    } catch (const std::bad_alloc&) {
        return ComError(vberr::kOutOfMemory, "CRVAnchor", "Out of memory");
    } catch (const std::exception& e) {
        return ComError(vberr::kInternalError, "CRVAnchor", e.what());
    } catch (...) {
        return ComError(vberr::kInternalError, "CRVAnchor", "Internal error");
    }
}

void HandleError(bool topLevel, const std::string& procedureId, int32_t number, const std::string& source,
                 const std::string& description) {
    const std::string formatted = t_formatted ? description : ErrorBlock(number, description);
    if (!topLevel) {
        t_formatted = true;
        throw ComError(number, source, "\t" + procedureId + kCrLf + formatted);
    }
    t_formatted = false;
    ErrorSink& sink = CurrentErrorSink();
    sink.Beep();
    std::string text = "An error has occured in the application.   Record the call stack sequence";
    text += kCrLf;
    text += "and the description of the error.";
    text += kCrLf;
    text += kCrLf;
    text += "Error Call Stack Sequence ";
    text += kCrLf;
    text += '\t';
    text += procedureId;
    text += kCrLf;
    text += formatted;
    sink.ShowMessage(kErrorBoxTitle, text);
}

}  // namespace crv
