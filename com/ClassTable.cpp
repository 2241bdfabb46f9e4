#include "com/ClassTable.h"

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
    entries_.emplace(cookie, Entry{clsid, progid, std::move(factory)});
    return cookie;
}

Guid ClassTable::ClsidFromProgId(const std::string& progid) const {
    {
        std::lock_guard lock(mutex_);
        for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
            if (!progid.empty() && it->second.progid == progid) return it->second.clsid;
        }
    }
    Raise(hresult::kInvalidClassString, "CRVAnchor", "Invalid class string: " + progid);
}

void ClassTable::RevokeClassObject(uint32_t cookie) {
    ComPtr<ClassFactory> released;
    {
        std::lock_guard lock(mutex_);
        auto it = entries_.find(cookie);
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
    if (!factory) {
        Raise(hresult::kClassNotRegistered, "CRVAnchor", "Class not registered: " + clsid.ToString());
    }
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
