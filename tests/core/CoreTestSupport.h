#pragma once
// What the core's conformance tests share: they reach the core through its C interface alone,
// on Linux and under Wine alike. CRV_CORE_WORK names the folder the fixture wrote the inputs in.
#include "core/crvanchor_core.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace crv::coretest {

using json = nlohmann::json;

inline std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

inline std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

struct MirrorCloser {
    void operator()(crv_mirror* m) const { crv_mirror_close(m); }
};
using Mirror = std::unique_ptr<crv_mirror, MirrorCloser>;

inline Mirror Open(const std::string& description, const std::string& name = "layout") {
    crv_mirror* m = nullptr;
    const crv_status status = crv_mirror_open(description.c_str(), name.c_str(), &m);
    EXPECT_EQ(status, CRV_OK) << crv_last_error();
    return Mirror(m);
}

// The text the core gave, parsed and released.
inline json Taken(char* text) {
    if (text == nullptr) return json();
    const json j = json::parse(text);
    crv_free(text);
    return j;
}


inline json PlacePage(crv_mirror* m, int32_t page, bool overlap = false) {
    char* out = nullptr;
    EXPECT_EQ(crv_mirror_place_page(m, page, overlap ? 1 : 0, &out), CRV_OK) << crv_last_error();
    return Taken(out);
}

inline json EditRecord(crv_mirror* m, const char* element, const std::vector<const char*>& changes) {
    char* out = nullptr;
    EXPECT_EQ(crv_mirror_edit_record(m, element, changes.data(), static_cast<int32_t>(changes.size()), &out), CRV_OK)
        << crv_last_error();
    return Taken(out);
}

}  // namespace crv::coretest
