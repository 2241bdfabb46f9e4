#include "com/Registry.h"

#include "com/FaultHook.h"
#include "errors/ComError.h"

#include <sqlite3.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace crv {

namespace {

// SQLite's own reason, with the system's where the file itself could not be used.
std::string Reason(sqlite3* db) {
    if (db == nullptr) return "out of memory";
    std::string reason = sqlite3_errmsg(db);
    const int primary = sqlite3_extended_errcode(db) & 0xff;
    const int system = sqlite3_system_errno(db);
    if ((primary == SQLITE_CANTOPEN || primary == SQLITE_IOERR) && system != 0) {
        reason += " (" + std::string(std::strerror(system)) + ")";
    }
    return reason;
}

[[noreturn]] void Fail(const std::string& path, sqlite3* db, bool writing) {
    Raise(writing ? hresult::kRegistryWrite : hresult::kRegistryRead, "CRVAnchor.Registry",
          "The registry " + path + " cannot be " + (writing ? "written" : "read") + ": " + Reason(db) + ".");
}

// One prepared statement, finalised on every way out.
class Statement {
public:
    Statement(sqlite3* db, const std::string& path, const char* sql) : db_(db), path_(path) {
        if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK)
            Fail(path_, db_, sqlite3_stmt_readonly(stmt_) == 0);
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    Statement& Bind(int i, const std::string& text) {
        sqlite3_bind_text(stmt_, i, text.c_str(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Statement& Bind(int i, int value) {
        sqlite3_bind_int(stmt_, i, value);
        return *this;
    }
    // True while a row is available.
    bool Step() {
        const int rc = sqlite3_step(stmt_);
        if (rc == SQLITE_ROW) return true;
        if (rc == SQLITE_DONE) return false;
        Fail(path_, db_, sqlite3_stmt_readonly(stmt_) == 0);
    }
    void Run() {
        while (Step()) {}
    }
    std::string Text(int col) const {
        const auto* p = sqlite3_column_text(stmt_, col);
        return p != nullptr ? reinterpret_cast<const char*>(p) : std::string();
    }
    int Int(int col) const { return sqlite3_column_int(stmt_, col); }
    int Changes() const { return sqlite3_changes(db_); }

private:
    sqlite3* db_;
    const std::string& path_;
    sqlite3_stmt* stmt_ = nullptr;
};

std::string Text(const Guid& g) { return g.ToString(); }

ClassRegistration ClassFrom(const Statement& s) {
    ClassRegistration c;
    c.clsid = Guid::FromString(s.Text(0));
    c.progid = s.Text(1);
    c.library_path = s.Text(2);
    c.threading_model = s.Text(3);
    c.typelib = s.Text(4).empty() ? Guid{} : Guid::FromString(s.Text(4));
    c.description = s.Text(5);
    return c;
}

}  // namespace

std::string Registry::DefaultPath() {
    if (const char* explicit_path = std::getenv("CRVANCHOR_REGISTRY");
        explicit_path != nullptr && *explicit_path != '\0') {
        return explicit_path;
    }
    std::filesystem::path base;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && *xdg != '\0') {
        base = xdg;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        base = std::filesystem::path(home) / ".local" / "share";
    } else {
        base = std::filesystem::temp_directory_path();
    }
    return (base / "crvanchor" / "registry.db").string();
}

Registry::Registry(const std::string& path, int busyTimeoutMs) : Registry(path, busyTimeoutMs, Access::Registration) {}

Registry::Registry(const std::string& path, int busyTimeoutMs, Access access) : path_(path), access_(access) {
    FaultPoint("Registry.Open");
    try {
        Open(busyTimeoutMs);
    } catch (...) {
        sqlite3_close(db_);
        db_ = nullptr;
        throw;
    }
}

void Registry::Open(int busyTimeoutMs) {
    const bool registration = access_ == Access::Registration;
    if (registration) {
        std::error_code ec;
        const auto folder = std::filesystem::path(path_).parent_path();
        if (!folder.empty()) std::filesystem::create_directories(folder, ec);
    }
    const int flags =
        (registration ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE : SQLITE_OPEN_READONLY) | SQLITE_OPEN_FULLMUTEX;
    if (sqlite3_open_v2(path_.c_str(), &db_, flags, nullptr) != SQLITE_OK) Fail(path_, db_, registration);
    // Another installer holding the write lock is waited for, not failed on.
    sqlite3_busy_timeout(db_, busyTimeoutMs);
    if (registration) {
        // A rollback journal, not a write-ahead log: readers then need no companion files,
        // which a reader without write access could not make and another user's would lock
        // the owner out of. Switches a registry written in the former way back.
        Exec("PRAGMA journal_mode=DELETE");
        Exec("PRAGMA synchronous=FULL");
        Exec("PRAGMA foreign_keys=ON");
        Write([&] {
            Exec(
                "CREATE TABLE IF NOT EXISTS classes (clsid TEXT PRIMARY KEY, progid TEXT NOT NULL, library TEXT NOT "
                "NULL,"
                " threading TEXT NOT NULL, typelib TEXT NOT NULL, description TEXT NOT NULL)");
            Exec("CREATE TABLE IF NOT EXISTS progids (progid TEXT PRIMARY KEY, clsid TEXT NOT NULL)");
            Exec(
                "CREATE TABLE IF NOT EXISTS typelibs (libid TEXT PRIMARY KEY, name TEXT NOT NULL, major INTEGER NOT "
                "NULL,"
                " minor INTEGER NOT NULL, path TEXT NOT NULL)");
            Exec(
                "CREATE TABLE IF NOT EXISTS categories (category TEXT NOT NULL, clsid TEXT NOT NULL,"
                " PRIMARY KEY (category, clsid))");
        });
        has_tables_ = true;
        return;
    }
    // Reading the schema also tells a file that is no registry at all.
    Statement tables(db_, path_,
                     "SELECT count(*) FROM sqlite_master WHERE type = 'table'"
                     " AND name IN ('classes', 'progids', 'typelibs', 'categories')");
    has_tables_ = tables.Step() && tables.Int(0) == 4;
}

std::unique_ptr<Registry> Registry::OpenIfExists(const std::string& path, int busyTimeoutMs) {
    std::error_code ec;
    if (std::filesystem::status(path, ec).type() == std::filesystem::file_type::not_found) return nullptr;
    return std::unique_ptr<Registry>(new Registry(path, busyTimeoutMs, Access::Lookup));
}

Registry::~Registry() { sqlite3_close(db_); }

void Registry::Exec(const char* sql) const {
    char* error = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &error) != SQLITE_OK) {
        sqlite3_free(error);
        Fail(path_, db_, access_ == Access::Registration);
    }
}

template <class Body>
void Registry::Write(Body&& body) {
    if (access_ != Access::Registration) {
        Raise(hresult::kRegistryWrite, "CRVAnchor.Registry", "The registry " + path_ + " is open for lookups only.");
    }
    Exec("BEGIN IMMEDIATE");
    try {
        body();
        FaultPoint("Registry.Commit");
        Exec("COMMIT");
    } catch (...) {
        sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

void Registry::RegisterClass(const ClassRegistration& c) {
    FaultPoint("Registry.RegisterClass");
    Write([&] {
        Statement(db_, path_, "DELETE FROM progids WHERE clsid = ?1").Bind(1, Text(c.clsid)).Run();
        Statement(db_, path_, "INSERT OR REPLACE INTO classes VALUES (?1, ?2, ?3, ?4, ?5, ?6)")
            .Bind(1, Text(c.clsid))
            .Bind(2, c.progid)
            .Bind(3, c.library_path)
            .Bind(4, c.threading_model)
            .Bind(5, c.typelib == Guid{} ? std::string() : Text(c.typelib))
            .Bind(6, c.description)
            .Run();
        if (!c.progid.empty()) {
            Statement(db_, path_, "INSERT OR REPLACE INTO progids VALUES (?1, ?2)")
                .Bind(1, c.progid)
                .Bind(2, Text(c.clsid))
                .Run();
        }
    });
}

void Registry::UnregisterClass(const Guid& clsid) {
    FaultPoint("Registry.UnregisterClass");
    Write([&] {
        Statement(db_, path_, "DELETE FROM progids WHERE clsid = ?1").Bind(1, Text(clsid)).Run();
        Statement(db_, path_, "DELETE FROM categories WHERE clsid = ?1").Bind(1, Text(clsid)).Run();
        Statement(db_, path_, "DELETE FROM classes WHERE clsid = ?1").Bind(1, Text(clsid)).Run();
    });
}

std::optional<ClassRegistration> Registry::FindClass(const Guid& clsid) const {
    FaultPoint("Registry.FindClass");
    if (!Readable()) return std::nullopt;
    Statement s(db_, path_, "SELECT * FROM classes WHERE clsid = ?1");
    s.Bind(1, Text(clsid));
    if (!s.Step()) return std::nullopt;
    return ClassFrom(s);
}

std::vector<ClassRegistration> Registry::Classes() const {
    FaultPoint("Registry.Classes");
    if (!Readable()) return {};
    Statement s(db_, path_, "SELECT * FROM classes ORDER BY progid");
    std::vector<ClassRegistration> out;
    while (s.Step()) out.push_back(ClassFrom(s));
    return out;
}

std::optional<Guid> Registry::ClsidFromProgId(const std::string& progid) const {
    FaultPoint("Registry.ClsidFromProgId");
    if (!Readable()) return std::nullopt;
    Statement s(db_, path_, "SELECT clsid FROM progids WHERE progid = ?1");
    s.Bind(1, progid);
    if (!s.Step()) return std::nullopt;
    return Guid::Parse(s.Text(0));
}

void Registry::RegisterTypeLib(const TypeLibRegistration& t) {
    FaultPoint("Registry.RegisterTypeLib");
    Write([&] {
        Statement(db_, path_, "INSERT OR REPLACE INTO typelibs VALUES (?1, ?2, ?3, ?4, ?5)")
            .Bind(1, Text(t.libid))
            .Bind(2, t.name)
            .Bind(3, t.major)
            .Bind(4, t.minor)
            .Bind(5, t.path)
            .Run();
    });
}

void Registry::UnregisterTypeLib(const Guid& libid) {
    FaultPoint("Registry.UnregisterTypeLib");
    Write([&] { Statement(db_, path_, "DELETE FROM typelibs WHERE libid = ?1").Bind(1, Text(libid)).Run(); });
}

std::optional<TypeLibRegistration> Registry::FindTypeLib(const Guid& libid) const {
    FaultPoint("Registry.FindTypeLib");
    if (!Readable()) return std::nullopt;
    Statement s(db_, path_, "SELECT * FROM typelibs WHERE libid = ?1");
    s.Bind(1, Text(libid));
    if (!s.Step()) return std::nullopt;
    return TypeLibRegistration{Guid::FromString(s.Text(0)), s.Text(1), s.Int(2), s.Int(3), s.Text(4)};
}

void Registry::AddClassToCategory(const Guid& category, const Guid& clsid) {
    FaultPoint("Registry.AddClassToCategory");
    Write([&] {
        Statement exists(db_, path_, "SELECT 1 FROM classes WHERE clsid = ?1");
        exists.Bind(1, Text(clsid));
        if (!exists.Step()) {
            Raise(hresult::kClassNotRegistered, "CRVAnchor.Registry",
                  "Class not registered: " + Text(clsid) + " cannot join the category " + Text(category) + ".");
        }
        Statement(db_, path_, "INSERT OR IGNORE INTO categories VALUES (?1, ?2)")
            .Bind(1, Text(category))
            .Bind(2, Text(clsid))
            .Run();
    });
}

void Registry::RemoveClassFromCategory(const Guid& category, const Guid& clsid) {
    FaultPoint("Registry.RemoveClassFromCategory");
    Write([&] {
        Statement s(db_, path_, "DELETE FROM categories WHERE category = ?1 AND clsid = ?2");
        s.Bind(1, Text(category)).Bind(2, Text(clsid)).Run();
        if (s.Changes() == 0) {
            Raise(static_cast<int32_t>(0x80040152u), "CRVAnchor.Registry",
                  "The class " + Text(clsid) + " is not in the category " + Text(category) + ".");
        }
    });
}

std::vector<Guid> Registry::ClassesInCategory(const Guid& category) const {
    FaultPoint("Registry.ClassesInCategory");
    if (!Readable()) return {};
    Statement s(db_, path_, "SELECT clsid FROM categories WHERE category = ?1 ORDER BY clsid");
    s.Bind(1, Text(category));
    std::vector<Guid> out;
    while (s.Step()) {
        if (auto g = Guid::Parse(s.Text(0))) out.push_back(*g);
    }
    return out;
}

}  // namespace crv
