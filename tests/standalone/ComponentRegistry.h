#pragma once
// The commands find the engine through the registry: the component library registered once in
// a registry of this test process's own, removed when the process ends.

#include "standalone/tools/Registration.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace crv::testing {

inline void RegisterComponentOnce() {
    static const std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("crv-test-registry-" + std::to_string(::getpid()) + ".db");
    static const bool registered = [] {
        ::setenv("CRVANCHOR_REGISTRY", path.c_str(), 1);
        std::atexit([] {
            for (const char* end : {"", "-wal", "-shm"}) std::filesystem::remove(path.string() + end);
        });
        return tools::RegisterServer(CRV_LIBRARY_PATH, false).code == 0;
    }();
    ASSERT_TRUE(registered);
}

}  // namespace crv::testing
