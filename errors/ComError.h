#pragma once
// The error value every procedure raises and traps: number, source, description.

#include <cstdint>
#include <stdexcept>
#include <string>

namespace crv {

class ComError : public std::runtime_error {
public:
    ComError(int32_t number, std::string source, std::string description)
        : std::runtime_error(description),
          number_(number),
          source_(std::move(source)),
          description_(std::move(description)) {}

    int32_t Number() const { return number_; }
    const std::string& Source() const { return source_; }
    const std::string& Description() const { return description_; }

private:
    int32_t number_;
    std::string source_;
    std::string description_;
};

[[noreturn]] inline void Raise(int32_t number, std::string source, std::string description) {
    throw ComError(number, std::move(source), std::move(description));
}

// The component's own error number (0x80040201).
inline constexpr int32_t kAnchorErrorNumber = static_cast<int32_t>(0x80040201u);

// Numbers a user of this platform knows from its run-time library.
namespace vberr {
inline constexpr int32_t kInvalidCall = 5;
inline constexpr int32_t kOverflow = 6;
inline constexpr int32_t kOutOfMemory = 7;
inline constexpr int32_t kSubscriptOutOfRange = 9;
inline constexpr int32_t kTypeMismatch = 13;
inline constexpr int32_t kInternalError = 51;
inline constexpr int32_t kObjectRequired = 424;
inline constexpr int32_t kObjectVariableNotSet = 91;
inline constexpr int32_t kInvalidUseOfNull = 94;
}  // namespace vberr

// Standard result codes of the object runtime.
namespace hresult {
inline constexpr int32_t kFail = static_cast<int32_t>(0x80004005u);
inline constexpr int32_t kNoInterface = static_cast<int32_t>(0x80004002u);
inline constexpr int32_t kClassNotRegistered = static_cast<int32_t>(0x80040154u);
inline constexpr int32_t kInvalidClassString = static_cast<int32_t>(0x800401F3u);
inline constexpr int32_t kWrongThread = static_cast<int32_t>(0x8001010Eu);
inline constexpr int32_t kClassNotAvailable = static_cast<int32_t>(0x80040111u);
inline constexpr int32_t kModuleNotFound = static_cast<int32_t>(0x8007007Eu);
inline constexpr int32_t kProcNotFound = static_cast<int32_t>(0x8007007Fu);
inline constexpr int32_t kInvalidArg = static_cast<int32_t>(0x80070057u);
inline constexpr int32_t kPointer = static_cast<int32_t>(0x80004003u);
inline constexpr int32_t kOpenFailed = static_cast<int32_t>(0x8007006Eu);  // a file that cannot be opened
inline constexpr int32_t kInvalidData = static_cast<int32_t>(0x8007000Du);  // data that is not valid
inline constexpr int32_t kRegistryRead = static_cast<int32_t>(0x80040150u);  // could not read the registry
inline constexpr int32_t kRegistryWrite = static_cast<int32_t>(0x80040151u);  // could not write the registry
inline constexpr int32_t kTypeLibraryLoad = static_cast<int32_t>(0x80029C4Au);  // no type library to be had
}  // namespace hresult

}  // namespace crv
