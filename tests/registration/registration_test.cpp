// The library as an installer and a scripting client see it: registration into an empty
// registry, the category entry of its property page, creation by programmatic identifier,
// late-bound calls, apartment threading and unloading.
#include "CRVAnchorTypeLib.h"
#include "com/Registry.h"
#include "errors/ErrorHandling.h"
#include "registration/VersionRecord.h"
#include "support/Activation.h"
#include "standalone/host/StandaloneHost.h"
#include "standalone/tools/Registration.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <thread>
#include <unistd.h>

namespace crv {
namespace {

namespace fs = std::filesystem;

const Guid kElementPropertyPages = Guid::FromString(typelib::kCategories[0].guid);

class RegistrationTest : public ::testing::Test {
protected:
    RegistrationTest() {
        dir_ = fs::temp_directory_path() / ("crv-reg-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        ::setenv("CRVANCHOR_REGISTRY", (dir_ / "registry.db").c_str(), 1);
    }
    ~RegistrationTest() override {
        ClassTable::Instance().FreeUnusedLibraries();
        ::unsetenv("CRVANCHOR_REGISTRY");
        fs::remove_all(dir_);
    }
    Registry Open() { return Registry(Registry::DefaultPath()); }
    Variant Call(const ComPtr<Unknown>& object, const std::string& member, std::vector<Variant> args = {}) {
        return CallByName(object, member, args);
    }

    fs::path dir_;
    RecordingErrorSink sink_;
    ScopedErrorSink scope_{sink_};
    standalone::StandaloneHost host_;
};

TEST_F(RegistrationTest, TheLibraryAnnouncesVersionOneAndSelfRegistration) {
    const auto record = ReadVersionRecord(CRV_LIBRARY_PATH);
    ASSERT_TRUE(record);
    EXPECT_EQ(record->major, 1);
    EXPECT_EQ(record->minor, 0);
    EXPECT_TRUE(record->flags & kVersionSelfRegister);
    EXPECT_STREQ(record->name, "CRVAnchor");
    // A library without a record is refused before it is loaded.
    EXPECT_FALSE(ReadVersionRecord(CRV_RUNTIME_PATH));
    EXPECT_NE(tools::RegisterServer(CRV_RUNTIME_PATH, false).code, 0);
    EXPECT_FALSE(ReadVersionRecord((dir_ / "none.so").string()));
}

TEST_F(RegistrationTest, RegisterCallLateBoundAndUnregister) {
    ASSERT_EQ(tools::RegisterServer(CRV_LIBRARY_PATH, false).code, 0);
    {
        Registry r = Open();
        for (const auto& c : typelib::Info().classes) {
            const auto entry = r.FindClass(c.clsid);
            ASSERT_TRUE(entry) << c.name;
            EXPECT_EQ(entry->progid, "CRVAnchor." + c.name);
            EXPECT_EQ(entry->threading_model, "Apartment");
            EXPECT_EQ(fs::path(entry->library_path).filename(), "libCRVAnchor.so");
            EXPECT_TRUE(fs::exists(entry->library_path));
            EXPECT_EQ(r.ClsidFromProgId(c.progid), c.clsid);
        }
        const auto lib = r.FindTypeLib(typelib::kLibId);
        ASSERT_TRUE(lib);
        EXPECT_EQ(lib->name, "CRVAnchor");
        EXPECT_EQ(lib->major, 1);
        EXPECT_TRUE(fs::exists(lib->path));
    }

    // Created through the registry from the library, called by name.
    auto manager = CreateObjectByProgId<Unknown>("CRVAnchor.CRVAnchorManager");
    EXPECT_EQ(ClassTable::Instance().LoadedLibraryCount(), 1);
    const Variant record = Call(manager, "makeanchorproperties");
    auto bag = record.ObjectAs<PropertyBag>();
    ASSERT_TRUE(bag);
    EXPECT_EQ(bag->GetProperty("Version"), Variant(int16_t{1}));
    EXPECT_EQ(bag->GetProperty("AnchorType"), Variant("Layout"));

    auto element = host_.AddText("Title", {1, 1, 2, 2});
    bag->SetProperty("AnchorElement", true);
    Call(manager, "AddAnchorProperties", {Variant(element), record});
    EXPECT_EQ(Call(manager, "IsAnchorElement", {Variant(element)}), Variant(true));
    EXPECT_EQ(Call(manager, "AnchorPriority", {Variant(element)}), Variant(int16_t{1}));
    Call(manager, "SetAnchorElement", {Variant(element)});
    std::vector<Variant> page = {Variant("2")};
    CallByName(manager, "AnchorElement", page);
    EXPECT_EQ(page[0], Variant(int32_t{2}));  // passed by reference: comes back as the long it was read as
    EXPECT_EQ(standalone::StandaloneHost::ExtentOf(element), (objects::Rect{0, 10, 1, 11}));
    EXPECT_TRUE(sink_.reports.empty());

    struct Bad {
        const char* member;
        std::vector<Variant> args;
        int32_t number;
    };
    const Bad bad[] = {
        {"Nope", {}, hresult::kUnknownName},
        {"Reset", {Variant(1)}, hresult::kBadParamCount},
        {"AddAnchorProperties", {Variant(element)}, hresult::kBadParamCount},
        {"AnchorElement", {Variant("page one")}, hresult::kTypeMismatchArg},
        {"IsAnchorElement", {Variant(3)}, hresult::kTypeMismatchArg},
    };
    for (const auto& b : bad) {
        try {
            std::vector<Variant> args = b.args;
            CallByName(manager, b.member, args);
            ADD_FAILURE() << b.member;
        } catch (const ComError& e) {
            EXPECT_EQ(e.Number(), b.number) << b.member;
        }
    }

    manager.Reset();
    element.Reset();
    bag.Reset();
    ASSERT_EQ(tools::RegisterServer(CRV_LIBRARY_PATH, true).code, 0);
    Registry r = Open();
    EXPECT_TRUE(r.Classes().empty());
    EXPECT_FALSE(r.FindTypeLib(typelib::kLibId));
}

TEST_F(RegistrationTest, InstallAndUninstallThePageInTheElementPropertyPageCategory) {
    const Guid page = typelib::kClsidAnchorPropertyPage;
    // Before registration the page class is unknown: the registrar's error comes back, and
    // nothing is shown.
    {
        const tools::Outcome early = tools::InstallPage(true);
        EXPECT_NE(early.code, 0);
    }
    ASSERT_EQ(tools::RegisterServer(CRV_LIBRARY_PATH, false).code, 0);
    EXPECT_TRUE(Open().ClassesInCategory(kElementPropertyPages).empty());  // registering does not install
    auto installer = CreateObjectByProgId<Unknown>("CRVAnchor.CategoryInstall");
    EXPECT_EQ(CStr(Call(installer, "ErrorMessage")), "");
    // A late-bound caller reads what the options left out stand for: an empty text.
    const ParamInfo& options = ComPtr<Dispatch>::Query(installer)->TypeInfo().Member("Install").params.at(1);
    EXPECT_TRUE(options.optional);
    EXPECT_EQ(options.default_value.Type(), VariantType::String);
    EXPECT_EQ(CStr(options.default_value), "");

    const int32_t failed = CLng(Call(installer, "Install", {Variant(false)}));  // not in the category yet
    EXPECT_EQ(failed, static_cast<int32_t>(0x80040152u));
    EXPECT_NE(CStr(Call(installer, "ErrorMessage")).find("is not in the category"), std::string::npos);

    // Any second argument is accepted and changes nothing; success empties the message.
    EXPECT_EQ(CLng(Call(installer, "Install", {Variant(true), Variant("whatever")})), 0);
    EXPECT_EQ(CStr(Call(installer, "ErrorMessage")), "");
    EXPECT_EQ(Open().ClassesInCategory(kElementPropertyPages), std::vector<Guid>{page});
    const auto members = tools::CategoryMembers("ElementPropertyPages");
    ASSERT_EQ(members.size(), 1u);
    EXPECT_EQ(members[0].rfind("CRVAnchor.AnchorPropertyPage\t", 0), 0u);
    EXPECT_EQ(CLng(Call(installer, "Install", {Variant(true)})), 0);  // again: still one entry
    EXPECT_EQ(Open().ClassesInCategory(kElementPropertyPages).size(), 1u);

    EXPECT_EQ(CLng(Call(installer, "Install", {Variant(false)})), 0);
    EXPECT_TRUE(Open().ClassesInCategory(kElementPropertyPages).empty());
    EXPECT_EQ(CLng(Call(installer, "Install", {Variant(false)})), static_cast<int32_t>(0x80040152u));
    EXPECT_FALSE(CStr(Call(installer, "ErrorMessage")).empty());
    EXPECT_TRUE(sink_.reports.empty());

    installer.Reset();
    ASSERT_EQ(tools::RegisterServer(CRV_LIBRARY_PATH, true).code, 0);
    Registry r = Open();
    EXPECT_TRUE(r.Classes().empty());
    EXPECT_FALSE(r.FindTypeLib(typelib::kLibId));
    EXPECT_FALSE(r.ClsidFromProgId("CRVAnchor.AnchorPropertyPage"));
}

TEST_F(RegistrationTest, CategoryIdsHandOutNewIdentifiersOfDistinctCategories) {
    ASSERT_EQ(tools::RegisterServer(CRV_LIBRARY_PATH, false).code, 0);
    auto ids = CreateObjectByProgId<Unknown>("CRVAnchor.CategoryIDs");
    const auto& info = ComPtr<Dispatch>::Query(ids)->TypeInfo();
    ASSERT_EQ(info.members.size(), 322u);  // MakeUID and one property per category
    std::set<std::string> guids;
    for (const auto& m : info.members) {
        if (m.name == "MakeUID") continue;
        EXPECT_TRUE(m.property_get);
        const Variant first = Call(ids, m.name);
        const Variant second = Call(ids, m.name);
        auto a = first.ObjectAs<HostUID>();
        auto b = second.ObjectAs<HostUID>();
        ASSERT_TRUE(a && b) << m.name;
        EXPECT_FALSE(SameObject(a, b)) << m.name;
        EXPECT_EQ(a->Value(), b->Value());
        EXPECT_TRUE(Guid::Parse(a->Value())) << m.name;
        guids.insert(a->Value());
    }
    EXPECT_EQ(guids.size(), 321u);
    for (const char* text :
         {"CRVAnchor.AnchorPropertyPage", "{092238a5-8a0f-5816-b2f1-8caeb7d63736}", "", " spaced "}) {
        EXPECT_EQ(Call(ids, "MakeUID", {Variant(text)}).ObjectAs<HostUID>()->Value(), text);
    }
}

TEST_F(RegistrationTest, ObjectsRefuseCallsFromOtherThreads) {
    ASSERT_EQ(tools::RegisterServer(CRV_LIBRARY_PATH, false).code, 0);
    auto manager = CreateObjectByProgId<_CRVAnchorManager>("CRVAnchor.CRVAnchorManager");
    const int64_t alive = support::Tracked::Alive();
    int32_t early = 0;
    int32_t late = 0;
    std::thread([&] {
        try {
            manager->MakeAnchorProperties();
        } catch (const ComError& e) {
            early = e.Number();
        }
        try {
            std::vector<Variant> none;
            CallByName(ComPtr<Unknown>(manager), "Reset", none);
        } catch (const ComError& e) {
            late = e.Number();
        }
    }).join();
    EXPECT_EQ(early, hresult::kWrongThread);
    EXPECT_EQ(late, hresult::kWrongThread);
    EXPECT_EQ(support::Tracked::Alive(), alive);  // the refused call made no record
    EXPECT_TRUE(manager->MakeAnchorProperties());  // its own thread is served
}

TEST_F(RegistrationTest, TheLibraryUnloadsOnlyWhenNothingOfItLives) {
    ASSERT_EQ(tools::RegisterServer(CRV_LIBRARY_PATH, false).code, 0);
    ClassTable::Instance().FreeUnusedLibraries();
    auto manager = CreateObjectByProgId<Unknown>("CRVAnchor.CRVAnchorManager");
    EXPECT_EQ(ClassTable::Instance().FreeUnusedLibraries(), 0);
    EXPECT_EQ(ClassTable::Instance().LoadedLibraryCount(), 1);
    manager.Reset();
    EXPECT_EQ(ClassTable::Instance().FreeUnusedLibraries(), 1);
    EXPECT_EQ(ClassTable::Instance().LoadedLibraryCount(), 0);
}

TEST_F(RegistrationTest, ActivationFailuresSayWhatIsMissing) {
    Registry r = Open();
    const Guid nowhere = MakeGuid("0badc0de-0000-4000-8000-000000000001");
    const Guid no_entry = MakeGuid("0badc0de-0000-4000-8000-000000000002");
    r.RegisterClass({nowhere, "Test.Nowhere", (dir_ / "libmissing.so").string(), "Apartment", {}, ""});
    r.RegisterClass({no_entry, "Test.NoEntry", CRV_RUNTIME_PATH, "Apartment", {}, ""});
    r.RegisterClass({MakeGuid("0badc0de-0000-4000-8000-000000000004"), "Test.NoPath", "", "Apartment", {}, ""});
    struct Case {
        const char* progid;
        int32_t number;
        const char* says;
    };
    const Case cases[] = {
        {"Test.Nowhere", hresult::kModuleNotFound, "could not be loaded"},
        {"Test.NoEntry", hresult::kProcNotFound, "has no entry point DllGetClassObject"},
        {"Test.NoPath", hresult::kModuleNotFound, "is registered with an empty library path"},
        {"Test.Unknown", hresult::kInvalidClassString, "Invalid class string"},
    };
    for (const auto& c : cases) {
        try {
            CreateObjectByProgId<Unknown>(c.progid);
            ADD_FAILURE() << c.progid;
        } catch (const ComError& e) {
            EXPECT_EQ(e.Number(), c.number) << c.progid;
            EXPECT_NE(e.Description().find(c.says), std::string::npos) << e.Description();
        }
    }
    try {
        CreateObject<Unknown>(MakeGuid("0badc0de-0000-4000-8000-000000000003"));
        ADD_FAILURE();
    } catch (const ComError& e) {
        EXPECT_EQ(e.Number(), hresult::kClassNotRegistered);
    }
}

// This test program runs no graphical application: the page cannot be made, and says so.
TEST_F(RegistrationTest, ThePropertyPageIsRefusedNotAbortedWithoutAGraphicalApplication) {
    ASSERT_EQ(tools::RegisterServer(CRV_LIBRARY_PATH, false).code, 0);
    try {
        CreateObjectByProgId<Unknown>("CRVAnchor.AnchorPropertyPage");
        ADD_FAILURE() << "a page without an application";
    } catch (const ComError& e) {
        EXPECT_NE(e.Description().find("graphical user interface"), std::string::npos) << e.Description();
    }
    const tools::Outcome call = tools::CallMember("CRVAnchor.AnchorPropertyPage", "Title", {});
    EXPECT_NE(call.code, 0);
    EXPECT_NE(call.message.find("CRVAnchor.AnchorPropertyPage can only be created in a program with a graphical"),
              std::string::npos)
        << call.message;
    // The other classes are served as ever.
    EXPECT_EQ(tools::CallMember("CRVAnchor.CRVAnchorManager", "Reset", {}).code, 0);
    EXPECT_TRUE(sink_.reports.empty());
}

// A registry that cannot be used is never passed off as "not registered" or a bare code: each
// road to it says which registry and what is wrong with it.
TEST_F(RegistrationTest, RegistryFailuresReachTheUserWithThePathAndTheReason) {
    const fs::path registry = Registry::DefaultPath();
    struct Case {
        const char* what;
        std::function<void()> make;
        const char* reason;
    };
    const Case cases[] = {
        {"corrupt", [&] { std::ofstream(registry) << std::string(4096, 'x'); }, "file is not a database"},
        {"a directory", [&] { fs::create_directories(registry); }, "Is a directory"},
    };
    for (const auto& c : cases) {
        fs::create_directories(dir_);
        c.make();
        auto expect = [&](const std::string& message, const char* road) {
            EXPECT_NE(message.find(registry.string()), std::string::npos) << c.what << ", " << road << ": " << message;
            EXPECT_NE(message.find(c.reason), std::string::npos) << c.what << ", " << road << ": " << message;
            EXPECT_EQ(message.find("not registered"), std::string::npos) << c.what << ", " << road << ": " << message;
        };
        try {
            support::RequireEngine();
            ADD_FAILURE() << c.what;
        } catch (const support::ActivationError& e) {
            EXPECT_FALSE(e.NotRegistered()) << c.what;
            expect(e.what(), "the book and the window");
        }
        expect(tools::CallMember("CRVAnchor.CRVAnchorManager", "Reset", {}).message, "crvcall");
        expect(tools::RegisterServer(CRV_LIBRARY_PATH, false).message, "crvregsvr");
        const tools::ToolRun install = tools::RunInstall(CRV_LIBRARY_PATH, false);
        EXPECT_EQ(install.status, 1) << c.what;
        expect(install.err, "crvinstall");
        fs::remove_all(dir_);
    }
    // No registry at all is the one case of "not registered".
    try {
        support::RequireEngine();
        ADD_FAILURE();
    } catch (const support::ActivationError& e) {
        EXPECT_TRUE(e.NotRegistered());
        EXPECT_NE(std::string(e.what()).find("not registered"), std::string::npos) << e.what();
    }
    EXPECT_FALSE(fs::exists(registry));  // and looking made none
}

// The tools refuse a path that is no library, or a library without its type library beside
// it, with one line naming the file and the reason, status 2, and nothing changed on disk.
TEST_F(RegistrationTest, ToolsRefuseBadLibrariesAndChangeNothing) {
    ASSERT_EQ(tools::RunInstall(CRV_LIBRARY_PATH, false).status, 0);
    const fs::path registry = Registry::DefaultPath();
    const auto size = fs::file_size(registry);
    const auto written = fs::last_write_time(registry);

    const fs::path copies = dir_ / "copies";
    fs::create_directories(copies);
    const fs::path lone = copies / "libCRVAnchor.so";
    fs::copy_file(CRV_LIBRARY_PATH, lone);
    std::ofstream(copies / "notes.so") << "not a library";
    struct Case {
        const char* what;
        std::function<tools::ToolRun()> run;
        std::string file;
        const char* reason;
    };
    const std::string missing = (dir_ / "missing" / "lib.so").string();
    const Case cases[] = {
        {"uninstall a missing file", [&] { return tools::RunInstall(missing, true); }, missing, "no such file"},
        {"install a missing file", [&] { return tools::RunInstall(missing, false); }, missing, "no such file"},
        {"unregister a missing file", [&] { return tools::RunRegisterServer(missing, true); }, missing, "no such file"},
        {"register an empty path", [&] { return tools::RunRegisterServer("", false); }, "", "library path is empty"},
        {"install an empty path", [&] { return tools::RunInstall("", false); }, "", "library path is empty"},
        {"uninstall a folder", [&] { return tools::RunInstall(copies.string(), true); }, copies.string(),
         "not a library file"},
        {"register no library", [&] { return tools::RunRegisterServer((copies / "notes.so").string(), false); },
         (copies / "notes.so").string(), "not a library with a version record"},
        {"register a lone copy", [&] { return tools::RunRegisterServer(lone.string(), false); },
         (copies / "CRVAnchor.tlb").string(), "is missing beside"},
        {"install a lone copy", [&] { return tools::RunInstall(lone.string(), false); },
         (copies / "CRVAnchor.tlb").string(), "is missing beside"},
    };
    for (const auto& c : cases) {
        const tools::ToolRun run = c.run();
        EXPECT_EQ(run.status, 2) << c.what << ": " << run.err;
        EXPECT_EQ(run.out, "") << c.what;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << c.what << ": " << run.err;
        EXPECT_NE(run.err.find(c.file), std::string::npos) << c.what << ": " << run.err;
        EXPECT_NE(run.err.find(c.reason), std::string::npos) << c.what << ": " << run.err;
        EXPECT_EQ(fs::file_size(registry), size) << c.what;
        EXPECT_EQ(fs::last_write_time(registry), written) << c.what;
    }
    EXPECT_EQ(Open().ClassesInCategory(kElementPropertyPages), std::vector<Guid>{typelib::kClsidAnchorPropertyPage});
    EXPECT_EQ(fs::path(Open().FindClass(typelib::kClsidAnchorPropertyPage)->library_path), fs::path(CRV_LIBRARY_PATH));

    // With its type library beside it, the copy registers with that one.
    fs::copy_file(fs::path(CRV_LIBRARY_PATH).parent_path() / "CRVAnchor.tlb", copies / "CRVAnchor.tlb");
    ASSERT_EQ(tools::RunRegisterServer(lone.string(), false).status, 0);
    EXPECT_EQ(fs::path(Open().FindTypeLib(typelib::kLibId)->path), copies / "CRVAnchor.tlb");
    EXPECT_EQ(tools::RunRegisterServer(CRV_LIBRARY_PATH, false).status, 0);
}

}  // namespace
}  // namespace crv
