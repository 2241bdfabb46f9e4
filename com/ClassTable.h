#pragma once
// The table of class objects through which every object is created by class id. A host
// registers its class factories here when it starts, as a running process does; the
// component creates every host and companion object through it.

#include "com/Unknown.h"

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace crv {

class ClassFactory : public Unknown {
public:
    static constexpr Guid IID = MakeGuid("6c1d2b70-3e0a-4d0e-9a57-0c4f1b2a0002");
    // A counted pointer to the new object's interface iid; throws ComError on failure.
    virtual void* CreateInstance(const Guid& iid) = 0;

protected:
    ~ClassFactory() = default;
};

// A factory over a function that makes the object.
class FunctionClassFactory final : public ComObject<ClassFactory> {
public:
    using Maker = std::function<ComPtr<Unknown>()>;
    explicit FunctionClassFactory(Maker maker) : maker_(std::move(maker)) {}
    void* CreateInstance(const Guid& iid) override;

private:
    Maker maker_;
};

class ClassTable {
public:
    static ClassTable& Instance();

    // Returns a cookie for RevokeClassObject. A later registration of the same class id
    // takes precedence until it is revoked.
    uint32_t RegisterClassObject(const Guid& clsid, ComPtr<ClassFactory> factory);
    // The same, also reachable by its programmatic identifier.
    uint32_t RegisterClassObject(const Guid& clsid, const std::string& progid, ComPtr<ClassFactory> factory);
    void RevokeClassObject(uint32_t cookie);
    bool IsRegistered(const Guid& clsid) const;

    // A counted pointer to interface iid of a new object of class clsid: from a class object
    // registered in this process, else from the library the registry names for the class,
    // loaded on demand. Throws ComError ("Class not registered", a library that cannot be
    // loaded or lacks its entry point, "No such interface supported").
    void* CreateInstance(const Guid& clsid, const Guid& iid);

    // Unloads the libraries loaded on demand whose DllCanUnloadNow says yes; returns how many.
    int FreeUnusedLibraries();
    int LoadedLibraryCount() const;

    // The class id of a programmatic identifier; throws "Invalid class string" when unknown.
    Guid ClsidFromProgId(const std::string& progid) const;

private:
    struct Entry {
        Guid clsid;
        std::string progid;
        ComPtr<ClassFactory> factory;
    };
    // The class objects in force, one per class id (the newest registration of each), in
    // class-id order. Never changed once made: a registration or a revocation makes a new one.
    struct Snapshot;
    // What the process's registry says, where it has one: the POSIX registry and library
    // loader (LibraryLoader.cpp), the platform's on Windows, none for a runtime that is
    // in process only (InProcessOnly.cpp).
    ComPtr<ClassFactory> FactoryFromRegistry(const Guid& clsid);
    static std::optional<Guid> ProgIdFromRegistry(const std::string& progid);
    ComPtr<ClassFactory> RegisteredFactory(const Guid& clsid);
    [[gnu::noinline]] const void* RefreshSnapshot();
    void Republish();  // with mutex_ held

    mutable std::mutex mutex_;
    std::map<std::string, void*> libraries_;  // path -> handle
    // In the order registered (cookies ascending).
    std::vector<std::pair<uint32_t, Entry>> entries_;
    uint32_t next_cookie_ = 1;
    // Objects are created far more often than classes are registered: each thread keeps the
    // snapshot it last read and takes the lock again only once this count has moved.
    std::shared_ptr<const Snapshot> snapshot_;
    std::atomic<uint64_t> generation_{1};
};

template <class I>
ComPtr<I> CreateObject(const Guid& clsid) {
    return ComPtr<I>::Attach(static_cast<I*>(ClassTable::Instance().CreateInstance(clsid, I::IID)));
}

template <class I>
ComPtr<I> CreateObjectByProgId(const std::string& progid) {
    return CreateObject<I>(ClassTable::Instance().ClsidFromProgId(progid));
}

// Registers a class for the lifetime of the object.
class ScopedClassRegistration {
public:
    ScopedClassRegistration(const Guid& clsid, FunctionClassFactory::Maker maker);
    ScopedClassRegistration(const Guid& clsid, const std::string& progid, FunctionClassFactory::Maker maker);
    ~ScopedClassRegistration();
    ScopedClassRegistration(const ScopedClassRegistration&) = delete;
    ScopedClassRegistration& operator=(const ScopedClassRegistration&) = delete;

private:
    uint32_t cookie_;
};

}  // namespace crv
