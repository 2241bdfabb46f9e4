#include "qgis/host/Records.h"

#include "objects/GenericObjects.h"
#include "support/MessageText.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <vector>

namespace crv::qgis {

namespace {

// A bag name may hold the separator: it is written %2F, and % itself %25.
std::string EscapeName(const std::string& name) {
    std::string out;
    for (const char c : name) {
        if (c == '/')
            out += "%2F";
        else if (c == '%')
            out += "%25";
        else
            out += c;
    }
    return out;
}

std::string UnescapeName(const std::string& name) {
    std::string out;
    for (size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '%' && name.compare(i, 3, "%2F") == 0) {
            out += '/';
            i += 2;
        } else if (name[i] == '%' && name.compare(i, 3, "%25") == 0) {
            out += '%';
            i += 2;
        } else {
            out += name[i];
        }
    }
    return out;
}

std::string DoubleText(double d) {
    if (std::isnan(d)) return "NaN";
    if (std::isinf(d)) return d > 0 ? "Infinity" : "-Infinity";
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.17g", d);
    return buffer;
}

template <class T>
bool ParseWhole(const std::string& text, T& out) {
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc() && end == text.data() + text.size() && !text.empty();
}

void Flatten(const Variant& value, const std::string& path, StoredProperties& out, int depth) {
    if (auto contents = value.ObjectAs<objects::BagContents>()) {
        const auto entries = contents->Entries();
        if (entries.empty() || depth > kMaxRecordNesting) {
            out[path] = "bag:";
            return;
        }
        for (const auto& [k, v] : entries) Flatten(v, path + "/" + EscapeName(k), out, depth + 1);
        return;
    }
    const std::string text = EncodeValue(value);
    if (!text.empty()) out[path] = text;
}

ComPtr<PropertyBag> NewBag() { return MakeCom<PropertyBag, objects::PropertyBagImpl>(); }

}  // namespace

std::string EncodeValue(const Variant& v) {
    switch (v.Type()) {
        case VariantType::Empty: return "empty:";
        case VariantType::Null: return "null:";
        case VariantType::Object: return v.ObjectAs<objects::BagContents>() ? "bag:" : "";
        case VariantType::Boolean: return v.AsBoolean() ? "boolean:true" : "boolean:false";
        case VariantType::Integer: return "int16:" + std::to_string(v.AsInteger());
        case VariantType::Long: return "int32:" + std::to_string(v.AsLong());
        case VariantType::Double: return "double:" + DoubleText(v.AsDouble());
        case VariantType::String: return "string:" + v.AsString();
    }
    return "";
}

Variant DecodeValue(const std::string& text) {
    const size_t colon = text.find(':');
    if (colon == std::string::npos) return Variant(text);
    const std::string kind = text.substr(0, colon);
    const std::string rest = text.substr(colon + 1);
    if (kind == "string") return Variant(rest);
    if (kind == "empty" && rest.empty()) return {};
    if (kind == "null" && rest.empty()) return Variant::Null();
    if (kind == "bag" && rest.empty()) return Variant(NewBag());
    if (kind == "boolean" && (rest == "true" || rest == "false")) return Variant(rest == "true");
    if (kind == "int16") {
        int16_t i = 0;
        if (ParseWhole(rest, i)) return Variant(i);
    }
    if (kind == "int32") {
        int32_t l = 0;
        if (ParseWhole(rest, l)) return Variant(l);
    }
    if (kind == "double") {
        if (rest == "NaN") return Variant(std::nan(""));
        if (rest == "Infinity") return Variant(HUGE_VAL);
        if (rest == "-Infinity") return Variant(-HUGE_VAL);
        double d = 0;
        const auto [end, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), d);
        if (ec == std::errc() && end == rest.data() + rest.size() && !rest.empty()) return Variant(d);
    }
    return Variant(text);
}

StoredProperties FlattenCustomValue(const Variant& value) {
    StoredProperties out;
    if (!value.IsEmpty()) Flatten(value, kRecordPrefix, out, 0);
    return out;
}

Variant UnflattenCustomValue(const StoredProperties& stored) {
    const std::string prefix = std::string(kRecordPrefix) + "/";
    if (auto whole = stored.find(kRecordPrefix); whole != stored.end()) return DecodeValue(whole->second);
    ComPtr<PropertyBag> root;
    for (const auto& [key, text] : stored) {
        if (key.compare(0, prefix.size(), prefix) != 0) continue;
        if (!root) root = NewBag();
        std::vector<std::string> names;
        for (size_t at = prefix.size();;) {
            const size_t slash = key.find('/', at);
            names.push_back(UnescapeName(key.substr(at, slash == std::string::npos ? std::string::npos : slash - at)));
            if (slash == std::string::npos) break;
            at = slash + 1;
        }
        // Deeper bags could never be written back, and destroying them one inside another
        // would run out of stack.
        if (names.size() > static_cast<size_t>(kMaxRecordNesting) + 1) {
            throw RecordKeyError("the custom property " + support::QuotedValue(key) + " holds bags nested " +
                                 std::to_string(names.size() - 1) + " deep; a record holds them at most " +
                                 std::to_string(kMaxRecordNesting) + " deep");
        }
        ComPtr<PropertyBag> bag = root;
        for (size_t i = 0; i + 1 < names.size(); ++i) {
            auto inner = bag->GetProperty(names[i]).ObjectAs<PropertyBag>();
            if (!inner) {
                inner = NewBag();
                bag->SetProperty(names[i], Variant(inner));
            }
            bag = inner;
        }
        // A bag already made by a deeper key stays: "bag:" only says the path exists.
        if (text == "bag:" && bag->GetProperty(names.back()).ObjectAs<PropertyBag>()) continue;
        bag->SetProperty(names.back(), DecodeValue(text));
    }
    return root ? Variant(root) : Variant();
}

}  // namespace crv::qgis
