#pragma once
// The commands' own errors: one line for the user, naming the file or argument and the reason.
// Callers at a command's edge catch `CommandError` and print what() as it stands.

#include <stdexcept>

namespace crv::support {

class CommandError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A file the user asked for could not be written; nothing was replaced.
class FileWriteError : public CommandError {
public:
    using CommandError::CommandError;
};

}  // namespace crv::support
