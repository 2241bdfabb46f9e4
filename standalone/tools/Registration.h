#pragma once
// What the registration tools do, as functions a test can call.

#include <cstdint>
#include <string>
#include <vector>

namespace crv::tools {

struct Outcome {
    int32_t code = 0;     // 0 for success, else the error number
    std::string message;  // what to tell the user
};

// Loads the library, checks that it announces self-registration, and calls its
// DllRegisterServer (or DllUnregisterServer).
Outcome RegisterServer(const std::string& libraryPath, bool unregister);

// After registration: CategoryInstall.Install(true) through the registry; before
// unregistration: Install(false).
Outcome InstallPage(bool install);

// The classes registered in the host category of that name (progid, clsid, library a line).
std::vector<std::string> CategoryMembers(const std::string& categoryName);

// Creates the object by programmatic identifier and calls the member by name. Arguments are
// read as a script would write them: true/false, whole numbers, decimal numbers, else text
// ("quoted text" keeps its quotes off).
Outcome CallMember(const std::string& progid, const std::string& member, const std::vector<std::string>& args);

}  // namespace crv::tools
