// The class registry as the platform keeps it: the classes under CLSID and their programmatic
// identifiers, the type libraries through the platform's own registration (which also enters
// their interfaces, for calls between apartments) and the categories through its category
// manager. A registry is named by its root: "HKEY_CLASSES_ROOT" for the machine as the
// platform merges it, "HKEY_CURRENT_USER\Software\Classes" for one user.
#include "com/Registry.h"

#include "com/FaultHook.h"
#include "errors/ComError.h"
#include "windows/platform/Guids.h"
#include "windows/platform/Text.h"

#include <windows.h>
#include <comcat.h>
#include <oleauto.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// windows.h spells our methods as the platform's wide window-class functions.
#undef RegisterClass
#undef UnregisterClass

namespace crv {

namespace {

constexpr const char* kSource = "CRVAnchor.Registry";

struct Root {
    HKEY key;
    std::wstring prefix;  // with a trailing backslash, or empty
    bool per_user;
};

Root RootOf(const std::string& path) {
    const std::wstring p = win::Wide(path);
    auto starts = [&](const wchar_t* head) { return _wcsnicmp(p.c_str(), head, wcslen(head)) == 0; };
    auto rest = [&](const wchar_t* head) {
        std::wstring r = p.substr(wcslen(head));
        while (!r.empty() && r.front() == L'\\') r.erase(r.begin());
        if (!r.empty() && r.back() != L'\\') r += L'\\';
        return r;
    };
    if (starts(L"HKEY_CLASSES_ROOT")) return {HKEY_CLASSES_ROOT, rest(L"HKEY_CLASSES_ROOT"), false};
    if (starts(L"HKEY_CURRENT_USER")) return {HKEY_CURRENT_USER, rest(L"HKEY_CURRENT_USER"), true};
    if (starts(L"HKEY_LOCAL_MACHINE")) return {HKEY_LOCAL_MACHINE, rest(L"HKEY_LOCAL_MACHINE"), false};
    Raise(hresult::kRegistryRead, kSource,
          "The registry " + path + " cannot be read: it is no root of the platform's registry.");
}

[[noreturn]] void Fail(const std::string& path, const std::string& key, LSTATUS status, bool writing) {
    Raise(writing ? hresult::kRegistryWrite : hresult::kRegistryRead, kSource,
          "The registry " + path + " cannot be " + (writing ? "written" : "read") + " at " + key + ": " +
              win::SystemMessage(static_cast<unsigned long>(status)) + ".");
}

std::string Braced(const Guid& g) { return g.ToString(); }

class Key {
public:
    Key() = default;
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    ~Key() {
        if (key_ != nullptr) RegCloseKey(key_);
    }
    HKEY* Out() { return &key_; }
    HKEY Get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

}  // namespace

// Lookups see the platform's merged view, the user's classes over the machine's. A registry
// named by CRVANCHOR_REGISTRY (the runtime's own file elsewhere) counts only when it names a
// root of this registry.
std::string Registry::DefaultPath() {
    if (const char* explicit_path = std::getenv("CRVANCHOR_REGISTRY");
        explicit_path != nullptr && _strnicmp(explicit_path, "HKEY_", 5) == 0) {
        return explicit_path;
    }
    return "HKEY_CLASSES_ROOT";
}

Registry::Registry(const std::string& path, int busyTimeoutMs) : Registry(path, busyTimeoutMs, Access::Registration) {}

Registry::Registry(const std::string& path, int /*busyTimeoutMs: the platform's registry locks itself*/, Access access)
    : path_(path), access_(access) {
    RootOf(path_);  // refuses a name that is no root before anything is done
    has_tables_ = true;
}

std::unique_ptr<Registry> Registry::OpenIfExists(const std::string& path, int busyTimeoutMs) {
    return std::unique_ptr<Registry>(new Registry(path, busyTimeoutMs, Access::Lookup));
}

Registry::~Registry() = default;

namespace {

// `view` names one view of a 64-bit registry's classes (KEY_WOW64_32KEY, KEY_WOW64_64KEY); none,
// the process's own.
void SetValue(const std::string& path, const Root& root, const std::string& key, const char* name,
              const std::string& value, REGSAM view = 0) {
    FaultPoint("Registry.Write");
    const std::wstring full = root.prefix + win::Wide(key);
    Key k;
    LSTATUS s =
        RegCreateKeyExW(root.key, full.c_str(), 0, nullptr, 0, KEY_SET_VALUE | view, nullptr, k.Out(), nullptr);
    if (s != ERROR_SUCCESS) Fail(path, key, s, true);
    const std::wstring v = win::Wide(value);
    const std::wstring n = name != nullptr ? win::Wide(name) : std::wstring();
    s = RegSetValueExW(k.Get(), name != nullptr ? n.c_str() : nullptr, 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(v.c_str()), static_cast<DWORD>((v.size() + 1) * sizeof(wchar_t)));
    if (s != ERROR_SUCCESS) Fail(path, key, s, true);
}

std::optional<std::string> GetValue(const std::string& path, const Root& root, const std::string& key,
                                    const char* name) {
    const std::wstring full = root.prefix + win::Wide(key);
    const std::wstring n = name != nullptr ? win::Wide(name) : std::wstring();
    DWORD bytes = 0;
    LSTATUS s = RegGetValueW(root.key, full.c_str(), name != nullptr ? n.c_str() : nullptr, RRF_RT_REG_SZ, nullptr,
                             nullptr, &bytes);
    if (s == ERROR_FILE_NOT_FOUND || s == ERROR_PATH_NOT_FOUND) return std::nullopt;
    if (s != ERROR_SUCCESS) Fail(path, key, s, false);
    std::wstring value(bytes / sizeof(wchar_t) + 1, L'\0');
    s = RegGetValueW(root.key, full.c_str(), name != nullptr ? n.c_str() : nullptr, RRF_RT_REG_SZ, nullptr,
                     value.data(), &bytes);
    if (s != ERROR_SUCCESS) Fail(path, key, s, false);
    value.resize(wcslen(value.c_str()));
    return win::Narrow(value);
}

void DeleteTree(const std::string& path, const Root& root, const std::string& key, REGSAM view = 0) {
    FaultPoint("Registry.Write");
    LSTATUS s = ERROR_SUCCESS;
    if (view == 0) {
        const std::wstring full = root.prefix + win::Wide(key);
        s = RegDeleteTreeW(root.key, full.c_str());
        if (s == ERROR_SUCCESS) RegDeleteKeyW(root.key, full.c_str());
    } else {
        // Deleting in one view goes through its classes key, opened in that view.
        std::wstring classes = root.prefix;
        if (!classes.empty() && classes.back() == L'\\') classes.pop_back();
        Key parent;
        s = RegOpenKeyExW(root.key, classes.c_str(), 0, KEY_ALL_ACCESS | view, parent.Out());
        if (s == ERROR_SUCCESS) s = RegDeleteTreeW(parent.Get(), win::Wide(key).c_str());
        if (s == ERROR_SUCCESS) s = RegDeleteKeyExW(parent.Get(), win::Wide(key).c_str(), view, 0);
    }
    if (s != ERROR_SUCCESS && s != ERROR_FILE_NOT_FOUND && s != ERROR_PATH_NOT_FOUND) Fail(path, key, s, true);
}

// The platform's component category manager, as its two faces.
template <class I>
I* CategoryManager(const IID& iid) {
    I* manager = nullptr;
    const HRESULT hr = CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER, iid,
                                        reinterpret_cast<void**>(&manager));
    if (FAILED(hr)) {
        Raise(static_cast<int32_t>(hr), kSource,
              "The platform's component category manager cannot be reached: " +
                  win::SystemMessage(static_cast<unsigned long>(hr)) + ".");
    }
    return manager;
}

// The thread's platform object runtime for the length of a call, where the caller has none.
class ComScope {
public:
    ComScope() : started_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
    ~ComScope() {
        if (started_) CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;

private:
    bool started_;
};

}  // namespace

void Registry::RegisterClass(const ClassRegistration& entry) {
    const Root root = RootOf(path_);
    const std::string clsid = "CLSID\\" + Braced(entry.clsid);
    // Written over a former registration, never by deleting the class's key: what others wrote
    // under it (the category manager's Implemented Categories) outlives a repair or an upgrade.
    // Only what a former registration of ours wrote and this one does not is taken away.
    if (auto former = GetValue(path_, root, clsid + "\\ProgID", nullptr); former && *former != entry.progid) {
        if (GetValue(path_, root, *former + "\\CLSID", nullptr) == Braced(entry.clsid)) DeleteTree(path_, root, *former);
        DeleteTree(path_, root, clsid + "\\ProgID");
    }
    if (entry.typelib == Guid{}) DeleteTree(path_, root, clsid + "\\TypeLib");
    SetValue(path_, root, clsid, nullptr, entry.description);
    SetValue(path_, root, clsid + "\\InprocServer32", nullptr, entry.library_path);
    SetValue(path_, root, clsid + "\\InprocServer32", "ThreadingModel", entry.threading_model);
    if (!entry.progid.empty()) {
        SetValue(path_, root, clsid + "\\ProgID", nullptr, entry.progid);
        SetValue(path_, root, entry.progid, nullptr, entry.description);
        SetValue(path_, root, entry.progid + "\\CLSID", nullptr, Braced(entry.clsid));
    }
    if (entry.typelib != Guid{}) SetValue(path_, root, clsid + "\\TypeLib", nullptr, Braced(entry.typelib));
}

void Registry::UnregisterClass(const Guid& clsid) {
    const Root root = RootOf(path_);
    const std::string key = "CLSID\\" + Braced(clsid);
    // The identifier goes only while it still names this class.
    if (auto progid = GetValue(path_, root, key + "\\ProgID", nullptr)) {
        if (GetValue(path_, root, *progid + "\\CLSID", nullptr) == Braced(clsid)) DeleteTree(path_, root, *progid);
    }
    DeleteTree(path_, root, key);
}

std::optional<ClassRegistration> Registry::FindClass(const Guid& clsid) const {
    const Root root = RootOf(path_);
    const std::string key = "CLSID\\" + Braced(clsid);
    auto library = GetValue(path_, root, key + "\\InprocServer32", nullptr);
    if (!library) return std::nullopt;
    ClassRegistration r;
    r.clsid = clsid;
    r.library_path = *library;
    r.progid = GetValue(path_, root, key + "\\ProgID", nullptr).value_or("");
    r.threading_model = GetValue(path_, root, key + "\\InprocServer32", "ThreadingModel").value_or("");
    if (auto lib = GetValue(path_, root, key + "\\TypeLib", nullptr)) r.typelib = Guid::Parse(*lib).value_or(Guid{});
    r.description = GetValue(path_, root, key, nullptr).value_or("");
    return r;
}

std::optional<Guid> Registry::ClsidFromProgId(const std::string& progid) const {
    if (progid.empty()) return std::nullopt;
    auto text = GetValue(path_, RootOf(path_), progid + "\\CLSID", nullptr);
    if (!text) return std::nullopt;
    return Guid::Parse(*text);
}

std::vector<ClassRegistration> Registry::Classes() const {
    const Root root = RootOf(path_);
    std::vector<ClassRegistration> out;
    Key k;
    if (RegOpenKeyExW(root.key, (root.prefix + L"CLSID").c_str(), 0, KEY_READ, k.Out()) != ERROR_SUCCESS) return out;
    wchar_t name[64];
    for (DWORD i = 0;; ++i) {
        DWORD length = 64;
        const LSTATUS s = RegEnumKeyExW(k.Get(), i, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (s == ERROR_NO_MORE_ITEMS) break;
        if (s != ERROR_SUCCESS) continue;
        if (auto g = Guid::Parse(win::Narrow(name))) {
            if (auto r = FindClass(*g)) out.push_back(*r);
        }
    }
    return out;
}

namespace {

// The interfaces of a type library that the platform's marshaler carries between threads.
std::vector<std::pair<Guid, std::string>> MarshaledInterfaces(ITypeLib* library) {
    std::vector<std::pair<Guid, std::string>> out;
    for (UINT i = 0, n = library->GetTypeInfoCount(); i < n; ++i) {
        ITypeInfo* info = nullptr;
        if (FAILED(library->GetTypeInfo(i, &info))) continue;
        TYPEATTR* attr = nullptr;
        if (SUCCEEDED(info->GetTypeAttr(&attr))) {
            const bool marshaled = (attr->typekind == TKIND_INTERFACE || attr->typekind == TKIND_DISPATCH) &&
                                   (attr->wTypeFlags & (TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION)) != 0;
            if (marshaled) {
                BSTR name = nullptr;
                info->GetDocumentation(MEMBERID_NIL, &name, nullptr, nullptr, nullptr);
                out.emplace_back(win::FromGUID(attr->guid), name != nullptr ? win::Narrow(name) : std::string());
                SysFreeString(name);
            }
            info->ReleaseTypeAttr(attr);
        }
        info->Release();
    }
    return out;
}

ITypeLib* LoadLibraryOf(const std::string& path) {
    ITypeLib* library = nullptr;
    const HRESULT hr = LoadTypeLibEx(win::Wide(path).c_str(), REGKIND_NONE, &library);
    if (FAILED(hr)) {
        Raise(static_cast<int32_t>(hr), kSource,
              "The type library " + path + " cannot be loaded: " + win::SystemMessage(static_cast<unsigned long>(hr)) +
                  ".");
    }
    return library;
}

constexpr const char* kAutomationMarshaler = "{00020424-0000-0000-C000-000000000046}";

// A key's string values and those of its subkeys, to be written back as they were.
struct SavedKey {
    std::string key;
    std::vector<std::pair<std::optional<std::string>, std::string>> values;  // no name: the default value
    friend bool operator==(const SavedKey&, const SavedKey&) = default;
};

// A tree of keys in one view of the registry: a 64-bit process sees the 64-bit classes, and the
// platform's call for the machine writes an interface's entry in the 32-bit view as well.
struct SavedTree {
    REGSAM view = 0;
    std::vector<SavedKey> keys;
};

std::wstring FullKey(const Root& root, const std::string& key) { return root.prefix + win::Wide(key); }

bool KeyExists(const Root& root, const std::string& key, REGSAM view) {
    Key k;
    return RegOpenKeyExW(root.key, FullKey(root, key).c_str(), 0, KEY_READ | view, k.Out()) == ERROR_SUCCESS;
}

void SaveTree(const Root& root, const std::string& key, REGSAM view, std::vector<SavedKey>& out) {
    Key k;
    if (RegOpenKeyExW(root.key, FullKey(root, key).c_str(), 0, KEY_READ | view, k.Out()) != ERROR_SUCCESS) return;
    SavedKey saved{key, {}};
    std::vector<wchar_t> name(16384), data(16384);
    for (DWORD i = 0;; ++i) {
        DWORD name_length = static_cast<DWORD>(name.size());
        DWORD bytes = static_cast<DWORD>(data.size() * sizeof(wchar_t));
        DWORD type = 0;
        if (RegEnumValueW(k.Get(), i, name.data(), &name_length, nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                          &bytes) != ERROR_SUCCESS) {
            break;
        }
        if (type != REG_SZ) continue;  // the interface entries hold text alone
        const std::wstring text(data.data(), wcsnlen(data.data(), bytes / sizeof(wchar_t)));
        saved.values.emplace_back(name_length == 0 ? std::nullopt : std::optional(win::Narrow(name.data())),
                                  win::Narrow(text));
    }
    out.push_back(std::move(saved));
    for (DWORD i = 0;; ++i) {
        DWORD name_length = static_cast<DWORD>(name.size());
        if (RegEnumKeyExW(k.Get(), i, name.data(), &name_length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
            break;
        }
        SaveTree(root, key + "\\" + win::Narrow(name.data()), view, out);
    }
}

// Writes the tree back as it was saved, unless it still is: a registration that left it alone
// needs no right to write it.
void RestoreTree(const std::string& path, const Root& root, const SavedTree& saved) {
    if (saved.keys.empty()) return;
    std::vector<SavedKey> now;
    SaveTree(root, saved.keys.front().key, saved.view, now);
    if (now == saved.keys) return;
    DeleteTree(path, root, saved.keys.front().key, saved.view);
    for (const SavedKey& k : saved.keys) {
        if (k.values.empty()) {
            Key made;  // a key without values is still part of the entry
            const LSTATUS s = RegCreateKeyExW(root.key, FullKey(root, k.key).c_str(), 0, nullptr, 0,
                                              KEY_SET_VALUE | saved.view, nullptr, made.Out(), nullptr);
            if (s != ERROR_SUCCESS) Fail(path, k.key, s, true);
        }
        for (const auto& [name, value] : k.values) {
            SetValue(path, root, k.key, name ? name->c_str() : nullptr, value, saved.view);
        }
    }
}

// The entries of those interfaces that name another library than libid, in every view given:
// the platform's calls write and remove every interface of a library, whoever defines it, and
// these must come through a registration or a removal of ours as they were. With
// onlyRegistered, an entry whose library is no longer registered is not kept.
std::vector<SavedTree> OthersEntries(const Root& root, const std::vector<Guid>& iids, const Guid& libid,
                                     bool onlyRegistered) {
    std::vector<SavedTree> kept;
    // Our per-user entries are written in the process's own view alone.
    const std::vector<REGSAM> views = root.per_user ? std::vector<REGSAM>{0}
                                                    : std::vector<REGSAM>{KEY_WOW64_64KEY, KEY_WOW64_32KEY};
    for (const REGSAM view : views) {
        for (const Guid& iid : iids) {
            const std::string key = "Interface\\" + Braced(iid);
            std::vector<SavedKey> tree;
            SaveTree(root, key, view, tree);
            const auto owner = std::find_if(tree.begin(), tree.end(), [&](const SavedKey& k) {
                return _stricmp(k.key.c_str(), (key + "\\TypeLib").c_str()) == 0;
            });
            if (owner == tree.end()) continue;
            const auto named = std::find_if(owner->values.begin(), owner->values.end(),
                                            [](const auto& v) { return !v.first; });
            if (named == owner->values.end() || _stricmp(named->second.c_str(), Braced(libid).c_str()) == 0) continue;
            if (onlyRegistered && !KeyExists(root, "TypeLib\\" + named->second, view)) continue;
            kept.push_back({view, std::move(tree)});
        }
    }
    return kept;
}

// Puts back every kept entry, then answers for the call that was made: its own failure first,
// else the first entry that could not be put back.
void RestoreAll(const std::string& path, const Root& root, const std::vector<SavedTree>& kept) {
    std::exception_ptr first;
    for (const SavedTree& tree : kept) {
        try {
            RestoreTree(path, root, tree);
        } catch (...) {
            if (!first) first = std::current_exception();
        }
    }
    if (first) std::rethrow_exception(first);
}

// The same where the call already failed: its own error is the one to tell.
void RestoreQuietly(const std::string& path, const Root& root, const std::vector<SavedTree>& kept) {
    try {
        RestoreAll(path, root, kept);
    } catch (...) {  // the call's own failure is the one reported
    }
}

}  // namespace

// For the machine through the platform's own registration. For one user the same keys are
// written under the user's classes: the platform's per-user call is not available everywhere,
// and where it falls back it writes for the machine.
void Registry::RegisterTypeLib(const TypeLibRegistration& entry) {
    FaultPoint("Registry.Write");
    ComScope com;
    const Root root = RootOf(path_);
    const auto others = OthersEntries(root, entry.borrowed, entry.libid, true);
    ITypeLib* library = LoadLibraryOf(entry.path);
    HRESULT hr = S_OK;
    if (!root.per_user) {
        std::wstring path = win::Wide(entry.path);
        hr = ::RegisterTypeLib(library, path.data(), nullptr);
    } else {
        try {
            // As the platform writes it: both numbers in hexadecimal.
            char version_text[16];
            std::snprintf(version_text, sizeof version_text, "%x.%x", static_cast<unsigned>(entry.major),
                          static_cast<unsigned>(entry.minor));
            const std::string version = version_text;
            const std::string base = "TypeLib\\" + Braced(entry.libid) + "\\" + version;
            const std::string folder = entry.path.substr(0, entry.path.find_last_of("\\/"));
            // The same entry as the platform's call writes for the machine: the library's help
            // string (its name without one) and its flags.
            BSTR help = nullptr;
            library->GetDocumentation(-1, nullptr, &help, nullptr, nullptr);
            const std::string described = help != nullptr && *help != L'\0' ? win::Narrow(help) : entry.name;
            SysFreeString(help);
            unsigned flags = 0;
            TLIBATTR* attr = nullptr;
            if (SUCCEEDED(library->GetLibAttr(&attr))) {
                flags = attr->wLibFlags;
                library->ReleaseTLibAttr(attr);
            }
            SetValue(path_, root, base, nullptr, described);
            SetValue(path_, root, base + "\\FLAGS", nullptr, std::to_string(flags));
            SetValue(path_, root, base + "\\HELPDIR", nullptr, folder);
            SetValue(path_, root, base + "\\0\\win64", nullptr, entry.path);
            for (const auto& [iid, name] : MarshaledInterfaces(library)) {
                const std::string key = "Interface\\" + Braced(iid);
                SetValue(path_, root, key, nullptr, name);
                SetValue(path_, root, key + "\\ProxyStubClsid", nullptr, kAutomationMarshaler);
                SetValue(path_, root, key + "\\ProxyStubClsid32", nullptr, kAutomationMarshaler);
                SetValue(path_, root, key + "\\TypeLib", nullptr, Braced(entry.libid));
                SetValue(path_, root, key + "\\TypeLib", "Version", version);
            }
        } catch (...) {
            library->Release();
            RestoreQuietly(path_, root, others);
            throw;
        }
    }
    library->Release();
    if (FAILED(hr)) {
        RestoreQuietly(path_, root, others);
        Raise(static_cast<int32_t>(hr), kSource,
              "The type library " + entry.path +
                  " cannot be registered: " + win::SystemMessage(static_cast<unsigned long>(hr)) + ".");
    }
    RestoreAll(path_, root, others);
}

void Registry::UnregisterTypeLib(const Guid& libid) {
    const auto found = FindTypeLib(libid);
    if (!found) return;
    FaultPoint("Registry.Write");
    ComScope com;
    const Root root = RootOf(path_);
    if (root.per_user) {
        // The interfaces the library registered, then the library; a library file already gone
        // leaves its interfaces to be found by their type-library entry.
        ITypeLib* library = nullptr;
        if (SUCCEEDED(LoadTypeLibEx(win::Wide(found->path).c_str(), REGKIND_NONE, &library))) {
            for (const auto& [iid, name] : MarshaledInterfaces(library)) {
                if (GetValue(path_, root, "Interface\\" + Braced(iid) + "\\TypeLib", nullptr) == Braced(libid)) {
                    DeleteTree(path_, root, "Interface\\" + Braced(iid));
                }
            }
            library->Release();
        }
        DeleteTree(path_, root, "TypeLib\\" + Braced(libid));
        return;
    }
    // The platform's call removes every interface the library describes, those it carries for
    // another library (whose entry names that library) included.
    std::vector<Guid> described;
    ITypeLib* library = nullptr;
    if (SUCCEEDED(LoadTypeLibEx(win::Wide(found->path).c_str(), REGKIND_NONE, &library))) {
        for (const auto& marshaled : MarshaledInterfaces(library)) described.push_back(marshaled.first);
        library->Release();
    }
    const auto others = OthersEntries(root, described, libid, false);
    const HRESULT hr = ::UnRegisterTypeLib(win::ToGUID(libid), static_cast<WORD>(found->major),
                                           static_cast<WORD>(found->minor), 0, SYS_WIN64);
    if (FAILED(hr) && hr != TYPE_E_REGISTRYACCESS) {
        RestoreQuietly(path_, root, others);
        Raise(static_cast<int32_t>(hr), kSource,
              "The type library " + libid.ToString() +
                  " cannot be unregistered: " + win::SystemMessage(static_cast<unsigned long>(hr)) + ".");
    }
    RestoreAll(path_, root, others);
}

std::optional<TypeLibRegistration> Registry::FindTypeLib(const Guid& libid) const {
    const Root root = RootOf(path_);
    const std::string base = "TypeLib\\" + Braced(libid);
    Key k;
    if (RegOpenKeyExW(root.key, (root.prefix + win::Wide(base)).c_str(), 0, KEY_READ, k.Out()) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    wchar_t version[32];
    DWORD length = 32;
    if (RegEnumKeyExW(k.Get(), 0, version, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
        return std::nullopt;
    }
    TypeLibRegistration r;
    r.libid = libid;
    const std::string v = win::Narrow(version);
    const size_t dot = v.find('.');
    r.major = static_cast<int>(std::strtol(v.substr(0, dot).c_str(), nullptr, 16));
    r.minor = dot == std::string::npos ? 0 : static_cast<int>(std::strtol(v.substr(dot + 1).c_str(), nullptr, 16));
    r.name = GetValue(path_, root, base + "\\" + v, nullptr).value_or("");
    r.path = GetValue(path_, root, base + "\\" + v + "\\0\\win64", nullptr).value_or("");
    return r;
}

void Registry::AddClassToCategory(const Guid& category, const Guid& clsid) {
    if (!FindClass(clsid)) {
        Raise(hresult::kClassNotRegistered, kSource,
              "The class " + clsid.ToString() + " is not registered in " + path_ + ".");
    }
    FaultPoint("Registry.Write");
    ComScope com;
    ICatRegister* manager = CategoryManager<ICatRegister>(IID_ICatRegister);
    GUID cat = win::ToGUID(category);
    const HRESULT hr = manager->RegisterClassImplCategories(win::ToGUID(clsid), 1, &cat);
    manager->Release();
    if (FAILED(hr)) {
        Raise(static_cast<int32_t>(hr), kSource,
              "The class " + clsid.ToString() + " cannot be entered in category " + category.ToString() + ": " +
                  win::SystemMessage(static_cast<unsigned long>(hr)) + ".");
    }
}

void Registry::RemoveClassFromCategory(const Guid& category, const Guid& clsid) {
    FaultPoint("Registry.Write");
    ComScope com;
    ICatRegister* manager = CategoryManager<ICatRegister>(IID_ICatRegister);
    GUID cat = win::ToGUID(category);
    const HRESULT hr = manager->UnRegisterClassImplCategories(win::ToGUID(clsid), 1, &cat);
    manager->Release();
    if (FAILED(hr)) {
        Raise(static_cast<int32_t>(hr), kSource,
              "The class " + clsid.ToString() + " cannot be removed from category " + category.ToString() + ": " +
                  win::SystemMessage(static_cast<unsigned long>(hr)) + ".");
    }
    // The platform keeps an emptied "Implemented Categories" key; it goes with the last entry.
    const Root root = RootOf(path_);
    const std::wstring implemented = root.prefix + L"CLSID\\" + win::Wide(Braced(clsid)) + L"\\Implemented Categories";
    RegDeleteKeyW(root.key, implemented.c_str());
}

std::vector<Guid> Registry::ClassesInCategory(const Guid& category) const {
    ComScope com;
    ICatInformation* manager = CategoryManager<ICatInformation>(IID_ICatInformation);
    GUID cat = win::ToGUID(category);
    IEnumCLSID* classes = nullptr;
    std::vector<Guid> out;
    if (SUCCEEDED(manager->EnumClassesOfCategories(1, &cat, static_cast<ULONG>(-1), nullptr, &classes))) {
        GUID g;
        ULONG fetched = 0;
        while (classes->Next(1, &g, &fetched) == S_OK && fetched == 1) out.push_back(win::FromGUID(g));
        classes->Release();
    }
    manager->Release();
    return out;
}

}  // namespace crv
