#pragma once
// What the document's reader and writer share: the state behind Document, the JSON tree type and
// the checks both make, so that what is written loads again. Only for standalone/document/.

#include "standalone/document/Document.h"
#include "support/FileLock.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace crv::standalone {

namespace document_internal {

using json = nlohmann::ordered_json;
namespace fs = std::filesystem;

std::string FileName(const fs::path& path);

// A document that parses but does not say what this version expects.
struct SchemaError {
    std::string pointer;
    std::string message;
};

std::string Child(const std::string& ptr, const std::string& key);
std::string Child(const std::string& ptr, size_t index);

[[noreturn]] void Fail(const std::string& ptr, const std::string& message);

// A number kept as its text: one that a double cannot hold as written (more digits than it
// keeps, a whole number beyond 64 bits). The parser never makes binary values from a JSON text,
// so the tag is unambiguous.
inline constexpr std::uint64_t kRawNumber = 0x4E;

const json::binary_t* RawNumber(const json& j);

// Page units in an inch.
double PerInch(const std::string& units);

// A length in the page's units, within what a page can sensibly be (huge values overflow the
// pixel sizes of drawings and windows).
void CheckRange(double v, double lo, double hi, const std::string& units, const std::string& ptr,
                const std::string& what);
void CheckPageSide(double v, const std::string& units, const std::string& ptr, const char* side);
void CheckRect(const Rect& r, const std::string& units, const std::string& ptr);

// A number's text in a message: numbers hold no unsafe characters, but may be long.
std::string NumberShown(const std::string& text);

// The text of the document file at `path`; throws DocumentError naming the file when it is no
// regular file, cannot be read or is larger than a document may be.
std::string ReadDocumentFile(const fs::path& path);

// The tree of a document's text, every number that a double cannot hold as written kept as its
// text; throws DocumentError "NAME:LINE:COLUMN: why" when the text is no JSON, nests too deep,
// repeats a key or holds a number out of range.
json ParseDocumentText(const std::string& text, const std::string& name);

// `raw` without the members this version reads itself.
json Without(const json& raw, std::initializer_list<const char*> keys);

}  // namespace document_internal

struct Document::Contents {
    using json = document_internal::json;

    struct ElementInfo {
        ComPtr<LayoutElement> element;
        json raw;
        ElementStyle style;
        std::optional<SeriesOrigin> series;
        json series_raw;
    };
    // The JSON of a property bag that is not its entries, and each entry's own extra members.
    struct BagRaw {
        ComPtr<Unknown> keep;
        json extras;
        std::map<std::string, json> entries;
    };

    std::filesystem::path path;
    std::string units = "inches";
    json root = json::object();
    std::vector<ElementInfo> elements;
    // Each element's entry in `elements`, by identity: drawing, saving and the command's checks
    // ask for every element's entry.
    std::unordered_map<const void*, size_t> element_entries;
    std::map<const void*, BagRaw> bags;
    std::map<std::string, json> series_layout_raw;
    std::map<std::string, json> template_raw;
    std::map<std::pair<std::string, std::string>, json> section_raw;
    json active_raw;
    std::unique_ptr<FileLock> lock;  // held from LoadForUpdate on

    void AddElement(ElementInfo info) {
        element_entries.try_emplace(Identity(info.element), elements.size());
        elements.push_back(std::move(info));
    }
    const ElementInfo* Find(const ComPtr<LayoutElement>& e) const {
        const auto it = element_entries.find(Identity(e));
        return it != element_entries.end() ? &elements[it->second] : nullptr;
    }
};

namespace document_internal {

// A value as the document writes it, tagged with its kind ("kind", then "value" or "entries"),
// `extras` kept; Fail with `where` for a value that has no saved form.
json TaggedValue(const Variant& v, const json& extras, const Document::Contents& impl, const std::string& where,
                 int depth);

}  // namespace document_internal

}  // namespace crv::standalone
