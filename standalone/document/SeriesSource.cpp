#include "standalone/document/SeriesSource.h"

#include <gdal.h>
#include <ogrsf_frmts.h>

#include <algorithm>
#include <cstdio>
#include <limits>
#include <memory>
#include <numeric>
#include <optional>

namespace crv::standalone {

namespace {

void RegisterDriversOnce() {
    static const bool done = [] {
        GDALAllRegister();
        return true;
    }();
    (void)done;
}

struct DatasetCloser {
    void operator()(GDALDataset* d) const { GDALClose(d); }
};

std::string TwoDigits(int v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02d", v);
    return buf;
}

// ISO 8601 text: the host has no date value of its own on this platform.
std::string DateText(const OGRFeature& f, int index, OGRFieldType type) {
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, tz = 0;
    float s = 0;
    f.GetFieldAsDateTime(index, &y, &mo, &d, &h, &mi, &s, &tz);
    std::string date = std::to_string(y) + "-" + TwoDigits(mo) + "-" + TwoDigits(d);
    char sec[16];
    const double whole = static_cast<double>(static_cast<int>(s));
    if (static_cast<double>(s) == whole) {
        std::snprintf(sec, sizeof sec, "%02d", static_cast<int>(s));
    } else {
        std::snprintf(sec, sizeof sec, "%06.3f", static_cast<double>(s));
    }
    const std::string time = TwoDigits(h) + ":" + TwoDigits(mi) + ":" + sec;
    if (type == OFTDate) return date;
    if (type == OFTTime) return time;
    return date + "T" + time;
}

Variant FieldValue(const OGRFeature& f, int index, const OGRFieldDefn& defn, int32_t hostType) {
    if (!f.IsFieldSetAndNotNull(index)) return Variant::Null();
    switch (defn.GetType()) {
        case OFTInteger:
            if (hostType == fieldtype::kSmallInteger) return Variant(static_cast<int16_t>(f.GetFieldAsInteger(index)));
            return Variant(static_cast<int32_t>(f.GetFieldAsInteger(index)));
        case OFTInteger64: {
            const GIntBig v = f.GetFieldAsInteger64(index);
            if (hostType == fieldtype::kInteger) return Variant(static_cast<int32_t>(v));
            return Variant(static_cast<double>(v));
        }
        case OFTReal: return Variant(f.GetFieldAsDouble(index));
        case OFTDate:
        case OFTTime:
        case OFTDateTime: return Variant(DateText(f, index, defn.GetType()));
        default: return Variant(std::string(f.GetFieldAsString(index)));
    }
}

bool FitsInt32(GIntBig v) {
    return v >= std::numeric_limits<int32_t>::min() && v <= std::numeric_limits<int32_t>::max();
}

// Orders two values of the sort field; nulls after everything else.
bool OrderLess(const Variant& a, const Variant& b) {
    if (a.IsNull() || b.IsNull()) return !a.IsNull() && b.IsNull();
    if (a.Type() == VariantType::String || b.Type() == VariantType::String) {
        return CStr(a) < CStr(b);
    }
    return CDbl(a) < CDbl(b);
}

}  // namespace

void* VectorDriverForExtension(const std::string& extension) {
    RegisterDriversOnce();
    for (int i = 0; i < GDALGetDriverCount(); ++i) {
        GDALDriverH driver = GDALGetDriver(i);
        if (GDALGetMetadataItem(driver, GDAL_DCAP_VECTOR, nullptr) == nullptr ||
            GDALGetMetadataItem(driver, GDAL_DCAP_CREATE, nullptr) == nullptr) {
            continue;
        }
        const char* listed = GDALGetMetadataItem(driver, GDAL_DMD_EXTENSIONS, nullptr);
        if (listed == nullptr) listed = GDALGetMetadataItem(driver, GDAL_DMD_EXTENSION, nullptr);
        if (listed == nullptr) continue;
        const CPLStringList extensions(CSLTokenizeString2(listed, " ", 0));
        for (int k = 0; k < extensions.size(); ++k) {
            if (EQUAL(extensions[k], extension.c_str())) return driver;
        }
    }
    return nullptr;
}

int32_t HostFieldType(int ogrType, int ogrSubType) {
    switch (static_cast<OGRFieldType>(ogrType)) {
        case OFTInteger:
            return ogrSubType == OFSTInt16 ? fieldtype::kSmallInteger : fieldtype::kInteger;
        case OFTInteger64: return fieldtype::kInteger;
        case OFTReal: return ogrSubType == OFSTFloat32 ? fieldtype::kSingle : fieldtype::kDouble;
        case OFTString: return fieldtype::kString;
        case OFTDate:
        case OFTTime:
        case OFTDateTime: return fieldtype::kDate;
        case OFTBinary: return fieldtype::kBlob;
        default:
            // Lists of values: nothing the host has a type for.
            return fieldtype::kXml;
    }
}

SeriesData ReadIndexLayer(const SeriesRequest& request) {
    RegisterDriversOnce();
    // The library's own complaints would add lines to the one-line message the caller gives.
    CPLPushErrorHandler(CPLQuietErrorHandler);
    struct PopHandler {
        ~PopHandler() { CPLPopErrorHandler(); }
    } pop;
    const std::string path = request.dataset.string();
    std::error_code ec;
    const auto kind = std::filesystem::status(request.dataset, ec).type();
    if (kind == std::filesystem::file_type::not_found || kind == std::filesystem::file_type::none) {
        throw SeriesSourceError("map series dataset not found: " + path);
    }
    // A dataset is a file or, for some formats, a folder. Anything else (a pipe, a device) could
    // keep the GIS library waiting for data that never comes.
    if (kind != std::filesystem::file_type::regular && kind != std::filesystem::file_type::directory) {
        throw SeriesSourceError("map series dataset " + path + " is neither a regular file nor a folder");
    }
    std::unique_ptr<GDALDataset, DatasetCloser> ds(
        GDALDataset::Open(path.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY, nullptr, nullptr, nullptr));
    if (!ds) throw SeriesSourceError("cannot open map series dataset " + path + " as vector data");
    OGRLayer* layer = nullptr;
    if (request.layer.empty()) {
        if (ds->GetLayerCount() == 0) throw SeriesSourceError("map series dataset " + path + " holds no layer");
        layer = ds->GetLayer(0);
    } else {
        layer = ds->GetLayerByName(request.layer.c_str());
        if (layer == nullptr) {
            throw SeriesSourceError("map series dataset " + path + " has no layer named " + request.layer);
        }
    }

    OGRFeatureDefn* defn = layer->GetLayerDefn();
    const int fieldCount = defn->GetFieldCount();
    SeriesData data;
    const char* fidColumn = layer->GetFIDColumn();
    data.fields.push_back({(fidColumn != nullptr && *fidColumn != '\0') ? fidColumn : "OBJECTID", fieldtype::kObjectId});
    std::vector<int32_t> types;
    for (int i = 0; i < fieldCount; ++i) {
        const OGRFieldDefn* fd = defn->GetFieldDefn(i);
        types.push_back(HostFieldType(fd->GetType(), fd->GetSubType()));
    }

    struct Row {
        GIntBig fid;
        std::unique_ptr<OGRFeature> feature;
        Rect envelope;
    };
    std::vector<Row> rows;
    layer->ResetReading();
    bool fidFits = true;
    std::vector<bool> int64Fits(static_cast<size_t>(fieldCount), true);
    while (OGRFeature* raw = layer->GetNextFeature()) {
        std::unique_ptr<OGRFeature> f(raw);
        Rect env;
        if (const OGRGeometry* g = f->GetGeometryRef(); g != nullptr && !g->IsEmpty()) {
            OGREnvelope e;
            g->getEnvelope(&e);
            env = {e.MinX, e.MinY, e.MaxX, e.MaxY};
        }
        fidFits = fidFits && FitsInt32(f->GetFID());
        for (int i = 0; i < fieldCount; ++i) {
            if (defn->GetFieldDefn(i)->GetType() == OFTInteger64 && f->IsFieldSetAndNotNull(i)) {
                if (!FitsInt32(f->GetFieldAsInteger64(i))) int64Fits[static_cast<size_t>(i)] = false;
            }
        }
        const GIntBig fid = f->GetFID();
        rows.push_back({fid, std::move(f), env});
    }
    // A 64-bit integer field stays an integer while every value fits the host's 32 bits.
    for (int i = 0; i < fieldCount; ++i) {
        if (!int64Fits[static_cast<size_t>(i)]) types[static_cast<size_t>(i)] = fieldtype::kDouble;
        const OGRFieldDefn* fd = defn->GetFieldDefn(i);
        data.fields.push_back({fd->GetNameRef(), types[static_cast<size_t>(i)]});
    }

    for (const Row& r : rows) {
        std::vector<Variant> values;
        values.reserve(static_cast<size_t>(fieldCount) + 1);
        values.push_back(fidFits ? Variant(static_cast<int32_t>(r.fid)) : Variant(static_cast<double>(r.fid)));
        for (int i = 0; i < fieldCount; ++i) {
            values.push_back(FieldValue(*r.feature, i, *defn->GetFieldDefn(i), types[static_cast<size_t>(i)]));
        }
        data.features.push_back(std::move(values));
        data.envelopes.push_back(r.envelope);
    }

    if (!request.order_field.empty()) {
        size_t key = data.fields.size();
        for (size_t i = 0; i < data.fields.size(); ++i) {
            if (data.fields[i].name == request.order_field) {
                key = i;
                break;
            }
        }
        if (key == data.fields.size()) {
            throw SeriesSourceError("map series layer " + std::string(layer->GetName()) + " in " + path +
                                    " has no page order field named " + request.order_field);
        }
        std::vector<size_t> order(data.features.size());
        std::iota(order.begin(), order.end(), size_t{0});
        std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
            return OrderLess(data.features[a][key], data.features[b][key]);
        });
        std::vector<std::vector<Variant>> features;
        std::vector<Rect> envelopes;
        for (size_t i : order) {
            features.push_back(std::move(data.features[i]));
            envelopes.push_back(data.envelopes[i]);
        }
        data.features = std::move(features);
        data.envelopes = std::move(envelopes);
    }
    data.name = layer->GetName();
    return data;
}

}  // namespace crv::standalone
