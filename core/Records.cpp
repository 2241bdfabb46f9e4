// Records as a host stores them: an item's custom value as text properties, one per value or one
// compact text, read into and written from the tagged form the layout's description holds; and
// the check of a PDF a host's exporter wrote, which the map-book command makes of its own.
#include "core/Mirror.h"

#include "objects/StoredProperties.h"
#include "support/PdfCheck.h"
#include "standalone/host/Snapshot.h"

#include <filesystem>
#include <optional>

using namespace crv;
using namespace crv::core;

extern "C" {

crv_status crv_record_read(const char* properties_json, char** record_json) {
    if (record_json != nullptr) *record_json = nullptr;
    return Guarded([&] {
        Require(properties_json != nullptr && record_json != nullptr,
                "crv_record_read: the properties and the result must be given");
        // Sorted by name, not kept in order: an item may hold tens of thousands of properties,
        // and the order-keeping object looks each name up one by one.
        nlohmann::json properties;
        try {
            properties = nlohmann::json::parse(properties_json);
        } catch (const nlohmann::json::exception&) {
            throw Refused("crv_record_read: the properties are not JSON text");
        }
        if (!properties.is_object()) throw Refused("crv_record_read: the properties must be a JSON object of names and texts");
        const std::string prefix = objects::kRecordPrefix;
        objects::StoredProperties stored;
        for (const auto& [name, value] : properties.items()) {
            if (name != prefix && name.compare(0, prefix.size() + 1, prefix + "/") != 0) continue;
            if (!value.is_string()) {
                throw Refused("crv_record_read: the property " + support::QuotedValue(name) +
                              " is not text; records are stored as text");
            }
            stored[name] = value.get<std::string>();
        }
        Variant custom;
        try {
            custom = objects::UnflattenCustomValue(stored);
        } catch (const objects::RecordKeyError& e) {
            throw Refused(std::string("crv_record_read: ") + e.what());
        }
        const auto compact = stored.find(prefix);
        json out = json::object();
        out["form"] = stored.empty()                                                          ? "none"
                      : compact != stored.end() && compact->second.compare(0, 5, "json:") == 0 ? "compact"
                                                                                              : "properties";
        out["custom"] = Tagged(custom);
        *record_json = Give(Dump(out));
    });
}

crv_status crv_record_write(const char* custom_json, int32_t compact, char** properties_json) {
    if (properties_json != nullptr) *properties_json = nullptr;
    return Guarded([&] {
        Require(custom_json != nullptr && properties_json != nullptr,
                "crv_record_write: the custom value and the result must be given");
        Variant custom;
        try {
            custom = standalone::TaggedValueFromText(custom_json, "crv_record_write: the custom value", kSource);
        } catch (const ComError& e) {
            throw Refused(e.Description());
        }
        const objects::StoredProperties stored =
            compact != 0 ? objects::CompactCustomValue(custom) : objects::FlattenCustomValue(custom);
        nlohmann::json out = nlohmann::json::object();  // sorted, as `stored` is
        for (const auto& [name, text] : stored) out[name] = text;
        *properties_json = Give(nlohmann::json{{"properties", std::move(out)}}.dump(-1, ' ', false,
                                                                                  nlohmann::json::error_handler_t::replace));
    });
}

crv_status crv_pdf_defect(const char* path, char** defect) {
    if (defect != nullptr) *defect = nullptr;
    return Guarded([&] {
        Require(path != nullptr && defect != nullptr, "crv_pdf_defect: the path and the result must be given");
        const std::filesystem::path file(std::u8string(reinterpret_cast<const char8_t*>(path)));
        *defect = Give(support::PdfDefect(file).value_or(""));
    });
}

}  // extern "C"
