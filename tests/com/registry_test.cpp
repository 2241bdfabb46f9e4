#include "com/Registry.h"

#include "errors/ComError.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
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
    return {NumberedGuid(n), "Test.Class" + std::to_string(n), "/opt/lib/libtest.so", "Apartment", NumberedGuid(9999), "n"};
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
