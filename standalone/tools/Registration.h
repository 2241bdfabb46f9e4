#pragma once
// What the registration tools do, as functions a test can call.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace crv::tools {

struct Outcome {
    int32_t code = 0;  // 0 for success, else the error number
    std::string message;  // what to tell the user
    bool refused = false;  // the input was refused before anything changed
};

// Refuses, naming the file and the reason, a path that is no self-registering library;
// nothing is loaded or changed. Nothing when the path is one.
std::optional<Outcome> CheckLibrary(const std::string& libraryPath);

// Checks the library, loads it and calls its DllRegisterServer (or DllUnregisterServer).
Outcome RegisterServer(const std::string& libraryPath, bool unregister);

// After registration: CategoryInstall.Install(true) through the registry; before
// unregistration: Install(false).
Outcome InstallPage(bool install);

// What the tools crvregsvr and crvinstall print and the status they exit with: 0 done, 1 failed,
// 2 refused (one line naming the file and the reason; nothing changed).
struct ToolRun {
    int status = 0;
    std::string out;
    std::string err;
};
ToolRun RunRegisterServer(const std::string& libraryPath, bool unregister);
// Registers the library and enters its page into the category; with uninstall, takes the page
// out and unregisters, once the library has been checked.
ToolRun RunInstall(const std::string& libraryPath, bool uninstall);

// The classes registered in the host category of that name (progid, clsid, library a line).
std::vector<std::string> CategoryMembers(const std::string& categoryName);

// Creates the object by programmatic identifier and calls the member by name. Arguments are
// read as a script would write them: true/false, whole numbers, decimal numbers, else text
// ("quoted text" keeps its quotes off).
Outcome CallMember(const std::string& progid, const std::string& member, const std::vector<std::string>& args);

}  // namespace crv::tools
