#include "standalone/tools/Registration.h"

#include "CRVAnchorTypeLib.h"
#include "com/Dispatch.h"
#include "com/Registry.h"
#include "errors/ErrorHandling.h"
#include "registration/VersionRecord.h"
#include "standalone/host/Objects.h"

#include <dlfcn.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <filesystem>

namespace crv::tools {

namespace {

std::string Hex(int32_t code) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", static_cast<uint32_t>(code));
    return buf;
}

Outcome Failed(std::exception_ptr error) {
    const ComError e = CurrentErrorAsComError(error);
    return {e.Number() != 0 ? e.Number() : hresult::kFail, e.Description() + " (" + Hex(e.Number()) + ")"};
}

Variant ReadArgument(const std::string& text) {
    if (text == "true" || text == "True") return Variant(true);
    if (text == "false" || text == "False") return Variant(false);
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') return Variant(text.substr(1, text.size() - 2));
    int32_t whole = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), whole);
    if (ec == std::errc() && end == text.data() + text.size()) return Variant(whole);
    if (auto d = ParseNumber(text, RegionalSettings::Invariant()); d && !text.empty()) return Variant(*d);
    return Variant(text);
}

std::string Describe(const Variant& v) {
    if (!v.IsObject()) return CStr(v);
    ComPtr<Unknown> object = v.AsObject();
    if (!object) return "Nothing";
    if (auto uid = ComPtr<HostUID>::Query(object)) return "HostUID " + uid->Value();
    if (auto bag = ComPtr<objects::BagContents>::Query(object)) {
        std::string out = "PropertyBag";
        for (const auto& [k, value] : bag->Entries()) {
            out += "\n  " + k + " (" + Variant::TypeName(value.Type()) +
                   ") = " + (value.IsObject() ? "<object>" : CStr(value));
        }
        return out;
    }
    return "<object>";
}

}  // namespace

std::optional<Outcome> CheckLibrary(const std::string& libraryPath) {
    auto refuse = [&](const std::string& reason) {
        return Outcome{hresult::kModuleNotFound, libraryPath + ": " + reason + "; nothing was changed.", true};
    };
    if (libraryPath.empty())
        return Outcome{hresult::kModuleNotFound, "the library path is empty; nothing was changed.", true};
    std::error_code ec;
    const auto status = std::filesystem::status(libraryPath, ec);
    if (status.type() == std::filesystem::file_type::not_found) return refuse("no such file");
    if (ec) return refuse(ec.message());
    if (!std::filesystem::is_regular_file(status)) return refuse("not a library file");
    const auto record = ReadVersionRecord(libraryPath);
    if (!record) return refuse("not a library with a version record");
    if ((record->flags & kVersionSelfRegister) == 0) return refuse("the library does not announce self-registration");
    return std::nullopt;
}

Outcome RegisterServer(const std::string& libraryPath, bool unregister) {
    const char* entry = unregister ? "DllUnregisterServer" : "DllRegisterServer";
    if (auto refusal = CheckLibrary(libraryPath)) return *refusal;
    void* handle = ::dlopen(std::filesystem::absolute(libraryPath).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* why = ::dlerror();
        return {hresult::kModuleNotFound,
                "Cannot load " + libraryPath + ": " + (why != nullptr ? why : "unknown reason"), true};
    }
    auto fn = reinterpret_cast<int32_t (*)()>(::dlsym(handle, entry));
    Outcome outcome;
    TakeErrorInfo();  // none left over from an earlier call
    if (fn == nullptr) {
        outcome = {hresult::kProcNotFound, libraryPath + " has no entry point " + entry + ".", true};
    } else if (const int32_t hr = fn(); hr != 0) {
        const auto info = TakeErrorInfo();
        outcome = {hr, std::string(entry) + " in " + libraryPath + " failed (" + Hex(hr) +
                           "): " + (info ? info->Description() : std::string("no reason given."))};
        // A library that refuses before touching the registry changed nothing.
        outcome.refused = hr == hresult::kTypeLibraryLoad;
    } else {
        outcome = {0, std::string(entry) + " in " + libraryPath + " succeeded."};
    }
    ::dlclose(handle);
    return outcome;
}

namespace {

int StatusOf(const Outcome& o) { return o.code == 0 ? 0 : o.refused ? 2 : 1; }

// Appends the outcome's line to the run's output or errors; false when it failed.
bool Say(ToolRun& run, const char* tool, const Outcome& o) {
    if (o.code == 0) {
        run.out += o.message + "\n";
        return true;
    }
    run.err += std::string(tool) + ": " + o.message + "\n";
    run.status = std::max(run.status, StatusOf(o));
    return false;
}

}  // namespace

ToolRun RunRegisterServer(const std::string& libraryPath, bool unregister) {
    ToolRun run;
    Say(run, "crvregsvr", RegisterServer(libraryPath, unregister));
    return run;
}

ToolRun RunInstall(const std::string& libraryPath, bool uninstall) {
    ToolRun run;
    // Checked first: a bad path must not take the page out of the category on its way.
    if (auto refusal = CheckLibrary(libraryPath)) {
        Say(run, "crvinstall", *refusal);
        return run;
    }
    if (uninstall) {
        Say(run, "crvinstall", InstallPage(false));
        Say(run, "crvinstall", RegisterServer(libraryPath, true));
        return run;
    }
    if (Say(run, "crvinstall", RegisterServer(libraryPath, false))) Say(run, "crvinstall", InstallPage(true));
    return run;
}

Outcome InstallPage(bool install) {
    try {
        auto installer = CreateObjectByProgId<Unknown>(typelib::kProgIdCategoryInstall);
        std::vector<Variant> args = {Variant(install)};
        const int32_t code = CLng(CallByName(installer, "Install", args));
        std::vector<Variant> none;
        const std::string message = CStr(CallByName(installer, "ErrorMessage", none));
        if (code != 0)
            return {code,
                    "Install(" + std::string(install ? "True" : "False") + ") returned " + Hex(code) + ": " + message};
        return {0, std::string(install ? "Installed " : "Uninstalled ") + typelib::kProgIdAnchorPropertyPage +
                       (install ? " into " : " from ") + "ElementPropertyPages."};
    } catch (...) {
        return Failed(std::current_exception());
    }
}

std::vector<std::string> CategoryMembers(const std::string& categoryName) {
    std::vector<std::string> out;
    for (const auto& c : typelib::kCategories) {
        if (categoryName != c.name) continue;
        auto registry = Registry::OpenIfExists();
        if (!registry) return out;
        for (const Guid& clsid : registry->ClassesInCategory(Guid::FromString(c.guid))) {
            const auto entry = registry->FindClass(clsid);
            out.push_back((entry ? entry->progid : std::string("?")) + "\t" + clsid.ToString() + "\t" +
                          (entry ? entry->library_path : std::string("?")));
        }
        return out;
    }
    Raise(hresult::kInvalidArg, "crvcategory", "The host has no component category named " + categoryName + ".");
}

Outcome CallMember(const std::string& progid, const std::string& member, const std::vector<std::string>& args) {
    try {
        auto object = CreateObjectByProgId<Unknown>(progid);
        std::vector<Variant> values;
        for (const std::string& a : args) values.push_back(ReadArgument(a));
        const Variant result = CallByName(object, member, values);
        return {0, result.IsEmpty() ? std::string() : Describe(result)};
    } catch (...) {
        return Failed(std::current_exception());
    }
}

}  // namespace crv::tools
