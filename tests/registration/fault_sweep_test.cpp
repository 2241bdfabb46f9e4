// Registration and installation with each host and registry call failing in turn: no crash,
// a registry that stays readable and consistent, a clean run afterwards that repairs
// everything, and no host object left alive.
#include "com/Dispatch.h"
#include "com/Registry.h"
#include "errors/ErrorHandling.h"
#include "standalone/host/StandaloneHost.h"
#include "standalone/tools/Registration.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <dlfcn.h>
#include <filesystem>
#include <cstdio>
#include <map>
#include <unistd.h>

namespace crv {
namespace {

namespace fs = std::filesystem;
using support::FaultInjector;

struct Steps {
    std::vector<int32_t> codes;  // of each step
};

Steps Scenario() {
    Steps run;
    run.codes.push_back(tools::RegisterServer(CRV_LIBRARY_PATH, false).code);
    run.codes.push_back(tools::InstallPage(true).code);
    run.codes.push_back(tools::CallMember("CRVAnchor.CRVAnchorManager", "MakeAnchorProperties", {}).code);
    run.codes.push_back(tools::InstallPage(false).code);
    run.codes.push_back(tools::RegisterServer(CRV_LIBRARY_PATH, true).code);
    return run;
}

TEST(RegistrationFaultSweep, EveryCallFailingOnceLeavesARepairableRegistry) {
    // Memory-backed when the machine has it: the sweep makes hundreds of durable writes.
    const fs::path base = fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    const fs::path dir = base / ("crv-sweep-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    ::setenv("CRVANCHOR_REGISTRY", (dir / "registry.db").c_str(), 1);
    RecordingErrorSink sink;
    ScopedErrorSink scope(sink);
    standalone::StandaloneHost host;
    auto& faults = FaultInjector::Instance();
    // Held for the whole sweep so that each run's loads and unloads of the library are cheap.
    void* keep_loaded = ::dlopen(CRV_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(keep_loaded, nullptr);

    faults.ClearLog();
    faults.SetLogging(true);
    const Steps clean = Scenario();
    faults.SetLogging(false);
    ASSERT_EQ(clean.codes, (std::vector<int32_t>{0, 0, 0, 0, 0}));
    const std::vector<std::string> calls = faults.Log();
    ASSERT_GT(calls.size(), 20u);
    std::printf("sweeping %zu calls\n", calls.size());
    ClassTable::Instance().FreeUnusedLibraries();
    const int64_t baseline = support::Tracked::Alive();

    std::map<std::string, int> seen;
    int failures_seen = 0;
    for (const std::string& op : calls) {
        const int nth = ++seen[op];
        {
            support::ScopedFault fault(op, nth);
            const Steps hurt = Scenario();
            for (int32_t c : hurt.codes) failures_seen += c != 0;
        }
        // Whatever was left half done, the registry reads back consistently ...
        {
            Registry r;
            for (const auto& c : r.Classes()) EXPECT_EQ(r.ClsidFromProgId(c.progid), c.clsid) << op << " #" << nth;
        }
        // ... and a clean run repairs it and leaves nothing of ours behind.
        EXPECT_EQ(Scenario().codes, (std::vector<int32_t>{0, 0, 0, 0, 0})) << op << " #" << nth;
        EXPECT_TRUE(Registry().Classes().empty()) << op << " #" << nth;
        ClassTable::Instance().FreeUnusedLibraries();
        EXPECT_EQ(support::Tracked::Alive(), baseline) << op << " #" << nth;
        EXPECT_FALSE(FormattedErrorFlag());
    }
    EXPECT_GT(failures_seen, 0);
    // Calls into the component that fail are reported, never thrown at the tool.
    for (const auto& r : sink.reports) EXPECT_EQ(r.title, "Unexpected Program Error");
    ::dlclose(keep_loaded);
    ::unsetenv("CRVANCHOR_REGISTRY");
    fs::remove_all(dir);
}

}  // namespace
}  // namespace crv
