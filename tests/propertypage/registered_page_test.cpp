// The page as a host finds it: created from the registered library by its identifier, with
// its default interface, the host's page protocol, and its own thread only.
#include "PageFixture.h"

#include "com/Dispatch.h"
#include "com/Registry.h"
#include "standalone/tools/Registration.h"

#include <cstdlib>
#include <filesystem>
#include <thread>
#include <unistd.h>

namespace crv::testing {
namespace {

TEST(RegisteredPage, ComesFromTheLibraryAndServesOnlyItsOwnThread) {
    const auto registry =
        std::filesystem::temp_directory_path() / ("crv-page-reg-" + std::to_string(::getpid()) + ".db");
    ::setenv("CRVANCHOR_REGISTRY", registry.c_str(), 1);
    StandaloneHost host;
    const tools::Outcome registered = tools::RegisterServer(CRV_LIBRARY_PATH, false);
    ASSERT_EQ(registered.code, 0) << registered.message;
    {
        auto page = CreateObjectByProgId<IComPropertyPage>("CRVAnchor.AnchorPropertyPage");
        ASSERT_TRUE(page);
        EXPECT_EQ(page->Title(), "Anchor");
        EXPECT_EQ(page->Priority(), 1);
        EXPECT_GT(page->Width(), 0);
        auto dispatch = ComPtr<Dispatch>::Query(page);
        ASSERT_TRUE(dispatch);
        EXPECT_EQ(dispatch->TypeInfo().name, "_AnchorPropertyPage");
        EXPECT_TRUE(dispatch->TypeInfo().members.empty());

        int32_t refused = 0;
        std::thread([&] {
            try {
                page->Title();
            } catch (const ComError& e) {
                refused = e.Number();
            }
        }).join();
        EXPECT_EQ(refused, hresult::kWrongThread);
    }
    EXPECT_EQ(ClassTable::Instance().FreeUnusedLibraries(), 1);
    ASSERT_EQ(tools::RegisterServer(CRV_LIBRARY_PATH, true).code, 0);
    ::unsetenv("CRVANCHOR_REGISTRY");
    std::filesystem::remove(registry);
    std::filesystem::remove(registry.string() + "-wal");
    std::filesystem::remove(registry.string() + "-shm");
}

}  // namespace
}  // namespace crv::testing
