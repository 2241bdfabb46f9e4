// The helpers the document's reader and writer share.
#include "standalone/document/DocumentInternal.h"

#include "standalone/document/JsonPositions.h"
#include "support/MessageText.h"

#include <unistd.h>

#include <locale>
#include <sstream>

namespace crv::standalone::document_internal {

std::string FileName(const fs::path& path) { return PlainOrQuoted(path.string()); }

std::string Child(const std::string& ptr, const std::string& key) { return ptr + "/" + EscapePointerToken(key); }
std::string Child(const std::string& ptr, size_t index) { return ptr + "/" + std::to_string(index); }

[[noreturn]] void Fail(const std::string& ptr, const std::string& message) { throw SchemaError{ptr, message}; }

const json::binary_t* RawNumber(const json& j) {
    if (!j.is_binary()) return nullptr;
    const json::binary_t& b = j.get_binary();
    return b.has_subtype() && b.subtype() == kRawNumber ? &b : nullptr;
}

double PerInch(const std::string& units) {
    if (units == "centimeters") return 2.54;
    if (units == "millimeters") return 25.4;
    if (units == "points") return 72;
    return 1;
}

namespace {

std::string Shown(double v) {
    std::ostringstream s;
    s.imbue(std::locale::classic());
    s << v;
    return s.str();
}

}  // namespace

void CheckRange(double v, double lo, double hi, const std::string& units, const std::string& ptr,
                const std::string& what) {
    if (!(v >= lo && v <= hi)) Fail(ptr, "expected " + what + " from " + Shown(lo) + " to " + Shown(hi) + " " + units);
}

void CheckPageSide(double v, const std::string& units, const std::string& ptr, const char* side) {
    CheckRange(v, kMinPageSideInches * PerInch(units), kMaxPageSideInches * PerInch(units), units, ptr,
               std::string("a page ") + side);
}

void CheckRect(const Rect& r, const std::string& units, const std::string& ptr) {
    const double limit = kMaxCoordinateInches * PerInch(units);
    for (const double v : {r.xmin, r.ymin, r.xmax, r.ymax}) CheckRange(v, -limit, limit, units, ptr, "coordinates");
}

json Without(const json& raw, std::initializer_list<const char*> keys) {
    json out = raw.is_object() ? raw : json::object();
    for (const char* k : keys) out.erase(k);
    return out;
}

}  // namespace crv::standalone::document_internal
