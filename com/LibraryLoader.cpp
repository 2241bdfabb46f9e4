// Class objects from the registry: the library it names is loaded with the dynamic loader and
// asked for the class object through its entry point.
#include "com/ClassTable.h"

#include "com/FaultHook.h"
#include "com/Registry.h"

#include <dlfcn.h>

namespace crv {

using GetClassObjectFn = int32_t (*)(const Guid*, const Guid*, void**);
using CanUnloadNowFn = int32_t (*)();

std::optional<Guid> ClassTable::ProgIdFromRegistry(const std::string& progid) {
    const auto registry = Registry::OpenIfExists();
    return registry ? registry->ClsidFromProgId(progid) : std::nullopt;
}

ComPtr<ClassFactory> ClassTable::FactoryFromRegistry(const Guid& clsid) {
    const auto registry = Registry::OpenIfExists();
    const auto entry = registry ? registry->FindClass(clsid) : std::nullopt;
    if (!entry) Raise(hresult::kClassNotRegistered, "CRVAnchor", "Class not registered: " + clsid.ToString());
    const std::string& path = entry->library_path;
    // Loading "" would give the running program itself, which has no class objects.
    if (path.empty()) {
        Raise(hresult::kModuleNotFound, "CRVAnchor",
              "Class " + clsid.ToString() + " is registered with an empty library path.");
    }
    void* handle = nullptr;
    {
        std::lock_guard lock(mutex_);
        auto it = libraries_.find(path);
        if (it != libraries_.end()) handle = it->second;
    }
    if (handle == nullptr) {
        FaultPoint("ClassTable.LoadLibrary");
        handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            const char* why = ::dlerror();
            Raise(hresult::kModuleNotFound, "CRVAnchor",
                  "The library " + path + " of class " + clsid.ToString() +
                      " could not be loaded: " + (why != nullptr ? why : "unknown reason"));
        }
        std::lock_guard lock(mutex_);
        libraries_.emplace(path, handle);
    }
    auto get = reinterpret_cast<GetClassObjectFn>(::dlsym(handle, "DllGetClassObject"));
    if (get == nullptr) {
        Raise(hresult::kProcNotFound, "CRVAnchor", "The library " + path + " has no entry point DllGetClassObject.");
    }
    void* out = nullptr;
    const int32_t hr = get(&clsid, &ClassFactory::IID, &out);
    if (hr < 0 || out == nullptr) {
        Raise(hr < 0 ? hr : hresult::kFail, "CRVAnchor",
              "The library " + path + " has no class object for " + clsid.ToString() + ".");
    }
    return ComPtr<ClassFactory>::Attach(static_cast<ClassFactory*>(out));
}

int ClassTable::FreeUnusedLibraries() {
    std::lock_guard lock(mutex_);
    int freed = 0;
    for (auto it = libraries_.begin(); it != libraries_.end();) {
        auto can = reinterpret_cast<CanUnloadNowFn>(::dlsym(it->second, "DllCanUnloadNow"));
        if (can != nullptr && can() == 0) {
            ::dlclose(it->second);
            it = libraries_.erase(it);
            ++freed;
        } else {
            ++it;
        }
    }
    return freed;
}

int ClassTable::LoadedLibraryCount() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(libraries_.size());
}

}  // namespace crv
