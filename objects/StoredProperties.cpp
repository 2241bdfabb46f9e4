#include "objects/StoredProperties.h"

#include "objects/GenericObjects.h"
#include "support/Edge.h"
#include "support/MessageText.h"

#include <nlohmann/json.hpp>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <vector>

namespace crv::objects {

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
    if (auto contents = value.ObjectAs<BagContents>()) {
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

ComPtr<PropertyBag> NewBag() { return MakeCom<PropertyBag, PropertyBagImpl>(); }

using ordered_json = nlohmann::ordered_json;
constexpr const char* kCompactKind = "json:";

ordered_json Compact(const Variant& value, int depth) {
    if (auto contents = value.ObjectAs<BagContents>()) {
        ordered_json bag = ordered_json::object();
        if (depth <= kMaxRecordNesting) {
            for (const auto& [k, v] : contents->Entries()) {
                ordered_json inner = Compact(v, depth + 1);
                if (!inner.is_null()) bag[k] = std::move(inner);
            }
        }
        return bag;
    }
    const std::string text = EncodeValue(value);
    return text.empty() ? ordered_json() : ordered_json(text);
}

// `where`: the JSON pointer of `j` in the compact text, for the refusal.
Variant FromCompact(const ordered_json& j, const std::string& where, int depth) {
    if (j.is_string()) return DecodeValue(j.get<std::string>());
    if (!j.is_object()) {
        throw RecordKeyError("the compact record " + where + " is neither a bag (an object) nor a \"<kind>:<text>\" value");
    }
    if (depth > kMaxRecordNesting) {
        throw RecordKeyError("the compact record holds bags nested more than " + std::to_string(kMaxRecordNesting) +
                             " deep, at " + where);
    }
    ComPtr<PropertyBag> bag = NewBag();
    for (const auto& [k, v] : j.items()) bag->SetProperty(k, FromCompact(v, where + "/" + k, depth + 1));
    return Variant(bag);
}

// The compact text's own nesting, counted before it is parsed: a text nested thousands deep
// must be refused, not parsed into a tree that takes the stack to destroy.
bool NestsTooDeep(const std::string& text) {
    int depth = 0;
    bool inString = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inString) {
            if (c == '\\') ++i;
            else if (c == '"') inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '{' || c == '[') {
            if (++depth > kMaxRecordNesting + 1) return true;
        } else if (c == '}' || c == ']') {
            --depth;
        }
    }
    return false;
}

Variant ReadCompact(const std::string& text) {
    if (NestsTooDeep(text)) {
        throw RecordKeyError("the compact record holds bags nested more than " + std::to_string(kMaxRecordNesting) +
                             " deep");
    }
    ordered_json j;
    try {
        j = ordered_json::parse(text);
    } catch (const nlohmann::json::exception& e) {
        const std::string what = e.what();
        const size_t at = what.find("] ");
        throw RecordKeyError("the compact record does not read: " +
                             support::OneLine(at == std::string::npos ? what : what.substr(at + 2)));
    }
    if (!j.is_object()) throw RecordKeyError("the compact record is not a bag (a JSON object)");
    return FromCompact(j, "", 0);
}

}  // namespace

std::string EncodeValue(const Variant& v) {
    switch (v.Type()) {
        case VariantType::Empty: return "empty:";
        case VariantType::Null: return "null:";
        case VariantType::Object: return v.ObjectAs<BagContents>() ? "bag:" : "";
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

StoredProperties CompactCustomValue(const Variant& value) {
    if (value.IsEmpty()) return {};
    if (!value.ObjectAs<BagContents>()) return FlattenCustomValue(value);
    return {{kRecordPrefix, kCompactKind + Compact(value, 0).dump(-1, ' ', false, ordered_json::error_handler_t::replace)}};
}

Variant UnflattenCustomValue(const StoredProperties& stored) {
    const std::string prefix = std::string(kRecordPrefix) + "/";
    if (auto whole = stored.find(kRecordPrefix); whole != stored.end()) {
        const std::string& text = whole->second;
        if (text.compare(0, 5, kCompactKind) == 0) return ReadCompact(text.substr(5));
        return DecodeValue(text);
    }
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

}  // namespace crv::objects
