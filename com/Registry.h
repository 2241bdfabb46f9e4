#pragma once
// The class registry on disk: which library serves each class, under which programmatic
// identifier and threading model, the type libraries, and the component categories each
// class implements. Every change is one transaction, so a crash in the middle of a write
// leaves the registry as it was, and two installers at once wait for each other. Lookups
// open it read-only; only registration writes.

#include "com/Guid.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;

namespace crv {

struct ClassRegistration {
    Guid clsid;
    std::string progid;
    std::string library_path;
    std::string threading_model = "Apartment";
    Guid typelib;
    std::string description;
    friend bool operator==(const ClassRegistration&, const ClassRegistration&) = default;
};

struct TypeLibRegistration {
    Guid libid;
    std::string name;
    int major = 1;
    int minor = 0;
    std::string path;
    // The interfaces the library carries for its classes while another library defines them:
    // their entries are left to that library wherever it has registered them.
    std::vector<Guid> borrowed = {};
    friend bool operator==(const TypeLibRegistration&, const TypeLibRegistration&) = default;
};

class Registry {
public:
    // How long a lookup or a registration waits for another installer's write to end.
    static constexpr int kBusyTimeoutMs = 10000;

    // Where the registry lives: $CRVANCHOR_REGISTRY, else $XDG_DATA_HOME/crvanchor/registry.db,
    // else ~/.local/share/crvanchor/registry.db.
    static std::string DefaultPath();

    // Opens the registry for registration, creating it (and its folder) when missing. Throws
    // ComError naming the registry and the reason.
    explicit Registry(const std::string& path = DefaultPath(), int busyTimeoutMs = kBusyTimeoutMs);
    // Opens the registry at path read-only, for lookups: the file is never changed and no
    // companion file is made, so anyone who can read it can look classes up. Nothing when
    // there is no file (nothing is registered); ComError naming the registry and the reason
    // when there is one that cannot be read.
    static std::unique_ptr<Registry> OpenIfExists(const std::string& path = DefaultPath(),
                                                  int busyTimeoutMs = kBusyTimeoutMs);
    ~Registry();
    Registry(const Registry&) = delete;
    Registry& operator=(const Registry&) = delete;

    const std::string& Path() const { return path_; }

    // Replaces any former entry of the class and the reverse entry of its identifier.
    void RegisterClass(const ClassRegistration& entry);
    // Removes the class, its programmatic identifier and its category memberships.
    void UnregisterClass(const Guid& clsid);
    std::optional<ClassRegistration> FindClass(const Guid& clsid) const;
    std::optional<Guid> ClsidFromProgId(const std::string& progid) const;
    std::vector<ClassRegistration> Classes() const;

    void RegisterTypeLib(const TypeLibRegistration& entry);
    void UnregisterTypeLib(const Guid& libid);
    std::optional<TypeLibRegistration> FindTypeLib(const Guid& libid) const;

    // Category membership; adding needs a registered class, removing needs the entry.
    void AddClassToCategory(const Guid& category, const Guid& clsid);
    void RemoveClassFromCategory(const Guid& category, const Guid& clsid);
    std::vector<Guid> ClassesInCategory(const Guid& category) const;

private:
    enum class Access { Lookup, Registration };
    Registry(const std::string& path, int busyTimeoutMs, Access access);
    void Open(int busyTimeoutMs);
    void Exec(const char* sql) const;
    // Runs body inside one write transaction, rolled back when it throws.
    template <class Body>
    void Write(Body&& body);
    // False for a registry file without tables yet: nothing is registered in it.
    bool Readable() const { return has_tables_; }

    std::string path_;
    Access access_;
    bool has_tables_ = false;
    sqlite3* db_ = nullptr;
};

}  // namespace crv
