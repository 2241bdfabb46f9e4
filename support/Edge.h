#pragma once
// The outermost frame of a program: whatever escapes the work becomes one line on standard
// error and status 2, never an abort. Header only, so that every program can use it whatever
// it links.

#include "errors/ComError.h"
#include "support/Errors.h"

#include <algorithm>
#include <exception>
#include <new>
#include <ostream>
#include <string>

namespace crv::support {

// One line: a message from a library may hold line breaks of its own.
inline std::string OneLine(std::string text) {
    std::replace_if(
        text.begin(), text.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
    return text;
}

// What the exception being handled says, in one line's words: for a catch (...) at an edge.
inline std::string CurrentFailure() {
    try {
        throw;
    } catch (const CommandError& e) {
        return e.what();
    } catch (const ComError& e) {
        return e.Description();
    } catch (const std::bad_alloc&) {
        return "out of memory";
    } catch (const std::exception& e) {
        return std::string("unexpected failure: ") + e.what();
    } catch (...) {
        return "unexpected failure of an unknown kind";
    }
}

// Runs `body` and returns its status; an exception that escapes it is told on `err` as
// "PROGRAM: what went wrong" and gives status 2.
template <class Body>
int RunAtEdge(const char* program, std::ostream& err, Body&& body) noexcept {
    std::string message;
    try {
        return body();
    } catch (...) {
        try {
            message = CurrentFailure();
        } catch (...) {
            message = "out of memory";
        }
    }
    try {
        err << program << ": " << OneLine(message) << "\n" << std::flush;
    } catch (...) {
        // Nowhere left to tell it; the status still says it.
    }
    return 2;
}

}  // namespace crv::support
