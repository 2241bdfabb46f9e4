#pragma once
// The standalone host's own errors: one line for the user, naming the file or argument and the
// reason. Callers at a command's edge catch `StandaloneError` and print what() as it stands.

#include <stdexcept>

namespace crv::standalone {

class StandaloneError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A file the user asked for could not be written; nothing was replaced.
class FileWriteError : public StandaloneError {
public:
    using StandaloneError::StandaloneError;
};

}  // namespace crv::standalone
