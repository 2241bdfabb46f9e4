#pragma once
// A map series' index layer read from a GIS dataset (GeoPackage, Shapefile, GeoJSON, CSV and
// whatever else the GIS library opens): its fields as the host numbers their types, one row of
// values per page in page order, and each page's geometry envelope.

#include "support/Errors.h"
#include "standalone/host/Objects.h"

#include <filesystem>
#include <stdexcept>
#include <string>

namespace crv::standalone {

class SeriesSourceError : public CommandError {
public:
    using CommandError::CommandError;
};

struct SeriesRequest {
    std::filesystem::path dataset;
    // Empty: the dataset's first layer.
    std::string layer;
    // Empty: pages follow the layer's feature order. Otherwise pages are sorted by this
    // field's value, ascending, features with a null value last, ties in feature order.
    std::string order_field;
    // Every row read at once, even from a dataset that could give them page by page.
    bool rows_in_memory = false;
};

// The fields (the feature id first, named by the layer's id column or "OBJECTID"), one row per
// page and the envelopes; name, first page and the rest are left at their defaults. A layer that
// fetches features by id quickly (GeoPackage, Shapefile) stays open with the series and gives
// each page's row when asked; other layers' rows are read into memory.
// Throws SeriesSourceError naming the dataset, layer or field that cannot be read.
SeriesData ReadIndexLayer(const SeriesRequest& request);

// The GIS library's vector driver that creates datasets with this file extension ("gpkg", "shp",
// "geojson", "csv"; case ignored), found by the extensions each driver lists for itself; nullptr
// when none does. A GDALDriverH, so that callers need not see the library's headers here.
void* VectorDriverForExtension(const std::string& extension);

// The host's type code for a field type and subtype of the GIS library (OGRFieldType,
// OGRFieldSubType as integers, so callers need not see its headers).
int32_t HostFieldType(int ogrType, int ogrSubType);

}  // namespace crv::standalone
