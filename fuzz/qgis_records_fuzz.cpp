// Records as QGIS keeps them, in layout items' custom properties: any keys and values must be
// read without a crash, refused only as too deep, and once read must write back as they read.
#include "objects/StoredProperties.h"

#include <cstdint>
#include <string>

using namespace crv;

namespace {

// Lines "key<TAB>value"; a key without the prefix is given it, so most inputs reach the reader.
objects::StoredProperties Parse(const std::string& text) {
    objects::StoredProperties stored;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(at, end - at);
        at = end + 1;
        const size_t tab = line.find('\t');
        std::string key = line.substr(0, tab);
        if (key.rfind(objects::kRecordPrefix, 0) != 0) key = std::string(objects::kRecordPrefix) + "/" + key;
        stored[key] = tab == std::string::npos ? "" : line.substr(tab + 1);
    }
    return stored;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    try {
        const objects::StoredProperties written = objects::FlattenCustomValue(objects::UnflattenCustomValue(Parse(text)));
        // What was written reads back as the same value.
        if (objects::FlattenCustomValue(objects::UnflattenCustomValue(written)) != written) __builtin_trap();
    } catch (const objects::RecordKeyError&) {
        // Keys deeper than a record holds are refused, never read.
    }
    return 0;
}
