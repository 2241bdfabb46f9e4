#include "com/Registry.h"

#include "errors/ComError.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace crv {
namespace {

namespace fs = std::filesystem;

Guid NumberedGuid(uint32_t n) {
    Guid g = MakeGuid("00000000-7a1c-4d2e-9f00-000000000000");
    g.data1 = n;
    return g;
}

ClassRegistration Entry(uint32_t n) {
    return {
        NumberedGuid(n), "Test.Class" + std::to_string(n), "/opt/lib/libtest.so", "Apartment", NumberedGuid(9999), "n"};
}

class RegistryTest : public ::testing::Test {
protected:
    RegistryTest() {
        dir_ = fs::temp_directory_path() / ("crv-registry-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        path_ = (dir_ / "sub" / "registry.db").string();
    }
    ~RegistryTest() override { fs::remove_all(dir_); }
    fs::path dir_;
    std::string path_;
};

TEST_F(RegistryTest, ClassesProgIdsAndTypeLibrariesRoundTrip) {
    Registry r(path_);  // creates its folder
    r.RegisterClass(Entry(1));
    EXPECT_EQ(r.FindClass(NumberedGuid(1)), Entry(1));
    EXPECT_EQ(r.ClsidFromProgId("Test.Class1"), NumberedGuid(1));
    EXPECT_FALSE(r.ClsidFromProgId("test.class1"));

    // Registering again under a new identifier drops the old reverse entry.
    ClassRegistration renamed = Entry(1);
    renamed.progid = "Test.Renamed";
    r.RegisterClass(renamed);
    EXPECT_FALSE(r.ClsidFromProgId("Test.Class1"));
    EXPECT_EQ(r.ClsidFromProgId("Test.Renamed"), NumberedGuid(1));

    r.RegisterTypeLib({NumberedGuid(9999), "TestLib", 1, 0, "/opt/lib/libtest.so"});
    EXPECT_EQ(r.FindTypeLib(NumberedGuid(9999))->name, "TestLib");

    // What one connection wrote, another one reads.
    Registry other(path_);
    EXPECT_EQ(other.FindClass(NumberedGuid(1))->progid, "Test.Renamed");

    r.UnregisterClass(NumberedGuid(1));
    r.UnregisterTypeLib(NumberedGuid(9999));
    EXPECT_TRUE(other.Classes().empty());
    EXPECT_FALSE(other.ClsidFromProgId("Test.Renamed"));
    EXPECT_FALSE(other.FindTypeLib(NumberedGuid(9999)));
}

TEST_F(RegistryTest, CategoryMembershipNeedsTheClassAndTheEntry) {
    Registry r(path_);
    const Guid category = NumberedGuid(500);
    try {
        r.AddClassToCategory(category, NumberedGuid(1));
        FAIL() << "an unregistered class cannot join a category";
    } catch (const ComError& e) {
        EXPECT_EQ(e.Number(), hresult::kClassNotRegistered);
    }
    r.RegisterClass(Entry(1));
    r.RegisterClass(Entry(2));
    r.AddClassToCategory(category, NumberedGuid(2));
    r.AddClassToCategory(category, NumberedGuid(1));
    r.AddClassToCategory(category, NumberedGuid(1));
    EXPECT_EQ(r.ClassesInCategory(category), (std::vector<Guid>{NumberedGuid(1), NumberedGuid(2)}));
    r.RemoveClassFromCategory(category, NumberedGuid(2));
    EXPECT_THROW(r.RemoveClassFromCategory(category, NumberedGuid(2)), ComError);
    r.UnregisterClass(NumberedGuid(1));
    EXPECT_TRUE(r.ClassesInCategory(category).empty());
}

TEST_F(RegistryTest, AnInstallerKilledMidWriteLeavesAReadableConsistentRegistry) {
    { Registry create(path_); }
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        Registry r(path_);
        for (uint32_t n = 1;; ++n) {
            r.RegisterClass(Entry(n));
            r.AddClassToCategory(NumberedGuid(500), NumberedGuid(n));
        }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));

    Registry r(path_);
    const auto classes = r.Classes();
    EXPECT_FALSE(classes.empty());
    for (const auto& c : classes) {
        EXPECT_EQ(r.ClsidFromProgId(c.progid), c.clsid) << c.progid;
    }
    // Still writable after the crash.
    r.RegisterClass(Entry(1000000));
    EXPECT_TRUE(r.FindClass(NumberedGuid(1000000)));
}

TEST_F(RegistryTest, TwoInstallersAtOnceBothLand) {
    { Registry create(path_); }
    pid_t children[2];
    for (uint32_t k = 0; k < 2; ++k) {
        children[k] = ::fork();
        ASSERT_GE(children[k], 0);
        if (children[k] == 0) {
            Registry r(path_);
            for (uint32_t n = 0; n < 100; ++n) r.RegisterClass(Entry(k * 1000 + n));
            std::_Exit(0);
        }
    }
    for (pid_t c : children) {
        int status = 0;
        ::waitpid(c, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_EQ(Registry(path_).Classes().size(), 200u);
}

// Lookups open the registry read-only: they work for a user who may only read it, never change
// the file, and leave no companion file behind that could lock its owner out.
TEST_F(RegistryTest, LookupsNeitherNeedNorMakeAnyChange) {
    const bool root = ::geteuid() == 0;  // root opens files whatever their modes
    {
        Registry r(path_);
        r.RegisterClass(Entry(1));
        r.AddClassToCategory(NumberedGuid(500), NumberedGuid(1));
    }
    const fs::path folder = dir_ / "sub";
    auto listing = [&] {
        std::vector<std::string> names;
        for (const auto& f : fs::directory_iterator(folder)) names.push_back(f.path().filename().string());
        return names;
    };
    const auto files = listing();
    const auto size = fs::file_size(path_);
    const auto written = fs::last_write_time(path_);
    struct Case {
        const char* what;
        fs::perms file;
        fs::perms dir;
    };
    const Case cases[] = {
        {"writable", fs::perms::owner_read | fs::perms::owner_write, fs::perms::owner_all},
        {"read-only file", fs::perms::owner_read, fs::perms::owner_all},
        {"read-only folder", fs::perms::owner_read, fs::perms::owner_read | fs::perms::owner_exec},
    };
    for (const auto& c : cases) {
        fs::permissions(path_, c.file);
        fs::permissions(folder, c.dir);
        {
            auto r = Registry::OpenIfExists(path_);
            ASSERT_TRUE(r) << c.what;
            EXPECT_EQ(r->ClsidFromProgId("Test.Class1"), NumberedGuid(1)) << c.what;
            EXPECT_EQ(r->FindClass(NumberedGuid(1)), Entry(1)) << c.what;
            EXPECT_EQ(r->ClassesInCategory(NumberedGuid(500)).size(), 1u) << c.what;
            EXPECT_THROW(r->RegisterClass(Entry(2)), ComError) << c.what;  // lookups only
            EXPECT_EQ(listing(), files) << c.what;  // no -wal, -shm or journal while open
        }
        fs::permissions(folder, fs::perms::owner_all);
        fs::permissions(path_, fs::perms::owner_read | fs::perms::owner_write);
        EXPECT_EQ(listing(), files) << c.what;
        EXPECT_EQ(fs::file_size(path_), size) << c.what;
        EXPECT_EQ(fs::last_write_time(path_), written) << c.what;
        if (root) break;  // the permission cases would prove nothing
    }
    // No registry at all: nothing is registered, and nothing is made.
    EXPECT_FALSE(Registry::OpenIfExists((dir_ / "none" / "registry.db").string()));
    EXPECT_FALSE(fs::exists(dir_ / "none"));
}

// A lookup or a registration that fails says which registry and why, in SQLite's words.
TEST_F(RegistryTest, EveryFailureNamesTheRegistryAndSQLitesReason) {
    const bool root = ::geteuid() == 0;  // root opens files whatever their modes
    sqlite3* holder = nullptr;
    struct Case {
        const char* what;
        std::function<void()> make;
        const char* lookup;  // the reason a lookup gives (nullptr: the lookup works)
        const char* registration;  // the reason a registration gives
        bool needs_permissions;
    };
    const Case cases[] = {
        {"corrupt", [&] { std::ofstream(path_) << std::string(4096, 'x'); }, "file is not a database",
         "file is not a database", false},
        {"truncated",
         [&] {
             {
                 Registry r(path_);
                 for (uint32_t n = 0; n < 40; ++n) r.RegisterClass(Entry(n));
             }
             fs::resize_file(path_, 5000);
         },
         "database disk image is malformed", "database disk image is malformed", false},
        {"a directory", [&] { fs::create_directories(path_); }, "(Is a directory)", "unable to open database file",
         false},
        {"read-only folder",
         [&] {
             { Registry r(path_); }
             fs::permissions(dir_ / "sub", fs::perms::owner_read | fs::perms::owner_exec);
         },
         nullptr, "unable to open database file", true},
        {"locked past the timeout",
         [&] {
             { Registry r(path_); }
             ASSERT_EQ(sqlite3_open(path_.c_str(), &holder), SQLITE_OK);
             ASSERT_EQ(sqlite3_exec(holder, "BEGIN EXCLUSIVE", nullptr, nullptr, nullptr), SQLITE_OK);
         },
         "database is locked", "database is locked", false},
    };
    for (const auto& c : cases) {
        if (c.needs_permissions && root) continue;
        fs::create_directories(dir_ / "sub");
        c.make();
        auto expect = [&](const char* reason, int32_t number, const std::function<void()>& action, const char* which) {
            try {
                action();
                EXPECT_EQ(reason, nullptr) << c.what << ": the " << which << " worked";
            } catch (const ComError& e) {
                ASSERT_NE(reason, nullptr) << c.what << ": " << e.Description();
                EXPECT_EQ(e.Number(), number) << c.what;
                EXPECT_NE(e.Description().find(path_), std::string::npos) << c.what << ": " << e.Description();
                EXPECT_NE(e.Description().find(reason), std::string::npos) << c.what << ": " << e.Description();
                EXPECT_EQ(e.Description().find("not registered"), std::string::npos) << e.Description();
            }
        };
        expect(
            c.lookup, hresult::kRegistryRead, [&] { Registry::OpenIfExists(path_, 50)->FindClass(NumberedGuid(1)); },
            "lookup");
        expect(
            c.registration, hresult::kRegistryWrite, [&] { Registry(path_, 50).RegisterClass(Entry(1)); },
            "registration");
        if (holder != nullptr) sqlite3_close(holder);
        holder = nullptr;
        fs::permissions(dir_ / "sub", fs::perms::owner_all);
        fs::remove_all(dir_ / "sub");
    }
}

TEST_F(RegistryTest, LocationComesFromTheEnvironment) {
    const char* saved = std::getenv("CRVANCHOR_REGISTRY");
    const std::string keep = saved != nullptr ? saved : "";
    ::setenv("CRVANCHOR_REGISTRY", path_.c_str(), 1);
    EXPECT_EQ(Registry::DefaultPath(), path_);
    ::unsetenv("CRVANCHOR_REGISTRY");
    ::setenv("XDG_DATA_HOME", "/srv/data", 1);
    EXPECT_EQ(Registry::DefaultPath(), "/srv/data/crvanchor/registry.db");
    ::unsetenv("XDG_DATA_HOME");
    if (saved != nullptr) ::setenv("CRVANCHOR_REGISTRY", keep.c_str(), 1);
    EXPECT_THROW(Registry("/proc/no/such/place/registry.db"), ComError);
}

}  // namespace
}  // namespace crv
