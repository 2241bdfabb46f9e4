#include "com/ClassTable.h"

#include "com/FaultHook.h"
#include "com/Registry.h"

#include <algorithm>
#include <dlfcn.h>

namespace crv {

void* FunctionClassFactory::CreateInstance(const Guid& iid) {
    ComPtr<Unknown> object = maker_();
    if (!object) Raise(hresult::kFail, "CRVAnchor", "The class factory made no object");
    void* p = object->QueryInterface(iid);
    if (p == nullptr) Raise(hresult::kNoInterface, "CRVAnchor", "No such interface supported");
    return p;
}

ClassTable& ClassTable::Instance() {
    static ClassTable table;
    return table;
}

uint32_t ClassTable::RegisterClassObject(const Guid& clsid, ComPtr<ClassFactory> factory) {
    return RegisterClassObject(clsid, std::string(), std::move(factory));
}

uint32_t ClassTable::RegisterClassObject(const Guid& clsid, const std::string& progid, ComPtr<ClassFactory> factory) {
    std::lock_guard lock(mutex_);
    const uint32_t cookie = next_cookie_++;
    entries_.emplace_back(cookie, Entry{clsid, progid, std::move(factory)});
    return cookie;
}

Guid ClassTable::ClsidFromProgId(const std::string& progid) const {
    {
        std::lock_guard lock(mutex_);
        for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
            if (!progid.empty() && it->second.progid == progid) return it->second.clsid;
        }
    }
    if (auto registry = Registry::OpenIfExists()) {
        if (auto clsid = registry->ClsidFromProgId(progid)) return *clsid;
    }
    Raise(hresult::kInvalidClassString, "CRVAnchor", "Invalid class string: " + progid);
}

using GetClassObjectFn = int32_t (*)(const Guid*, const Guid*, void**);
using CanUnloadNowFn = int32_t (*)();

ComPtr<ClassFactory> ClassTable::FactoryFromRegistry(const Guid& clsid) {
    const auto registry = Registry::OpenIfExists();
    const auto entry = registry ? registry->FindClass(clsid) : std::nullopt;
    if (!entry) Raise(hresult::kClassNotRegistered, "CRVAnchor", "Class not registered: " + clsid.ToString());
    const std::string& path = entry->library_path;
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

void ClassTable::RevokeClassObject(uint32_t cookie) {
    ComPtr<ClassFactory> released;
    {
        std::lock_guard lock(mutex_);
        auto it = std::find_if(entries_.begin(), entries_.end(), [&](const auto& e) { return e.first == cookie; });
        if (it == entries_.end()) return;
        released = std::move(it->second.factory);
        entries_.erase(it);
    }
}

bool ClassTable::IsRegistered(const Guid& clsid) const {
    std::lock_guard lock(mutex_);
    for (const auto& [cookie, entry] : entries_) {
        if (entry.clsid == clsid) return true;
    }
    return false;
}

void* ClassTable::CreateInstance(const Guid& clsid, const Guid& iid) {
    ComPtr<ClassFactory> factory;
    {
        std::lock_guard lock(mutex_);
        // The newest registration wins.
        for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
            if (it->second.clsid == clsid) {
                factory = it->second.factory;
                break;
            }
        }
    }
    if (!factory) factory = FactoryFromRegistry(clsid);
    return factory->CreateInstance(iid);
}

ScopedClassRegistration::ScopedClassRegistration(const Guid& clsid, FunctionClassFactory::Maker maker)
    : cookie_(ClassTable::Instance().RegisterClassObject(
          clsid, MakeCom<ClassFactory, FunctionClassFactory>(std::move(maker)))) {}

ScopedClassRegistration::ScopedClassRegistration(const Guid& clsid, const std::string& progid,
                                                 FunctionClassFactory::Maker maker)
    : cookie_(ClassTable::Instance().RegisterClassObject(
          clsid, progid, MakeCom<ClassFactory, FunctionClassFactory>(std::move(maker)))) {}

ScopedClassRegistration::~ScopedClassRegistration() { ClassTable::Instance().RevokeClassObject(cookie_); }

}  // namespace crv
