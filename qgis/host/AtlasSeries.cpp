#include "qgis/host/AtlasSeries.h"

#include "qgis/host/Element.h"

#include <qgsfeature.h>
#include <qgsfields.h>
#include <qgslayoutreportcontext.h>
#include <qgsvectordataprovider.h>
#include <qgsvectorlayer.h>

namespace crv::qgis {

namespace {

int32_t FieldTypeOf(QVariant::Type type) {
    switch (type) {
        case QVariant::Int:
        case QVariant::UInt:
        case QVariant::LongLong:
        case QVariant::ULongLong: return fieldtype::kInteger;
        case QVariant::Double: return fieldtype::kDouble;
        case QVariant::Date:
        case QVariant::DateTime:
        case QVariant::Time: return fieldtype::kDate;
        case QVariant::ByteArray: return fieldtype::kBlob;
        // As the standalone host reads a boolean of the same dataset: a whole number.
        case QVariant::Bool: return fieldtype::kInteger;
        default: return fieldtype::kString;
    }
}

Variant ValueOf(const QVariant& v) {
    if (v.isNull() || !v.isValid()) return Variant::Null();
    switch (v.type()) {
        // 1 or 0, as in the standalone host: a boolean variant converts to -1 for true.
        case QVariant::Bool: return Variant(int32_t{v.toBool() ? 1 : 0});
        case QVariant::Int:
        case QVariant::UInt:
        case QVariant::LongLong:
        case QVariant::ULongLong: {
            const qlonglong l = v.toLongLong();
            if (l >= INT32_MIN && l <= INT32_MAX) return Variant(static_cast<int32_t>(l));
            return Variant(v.toDouble());
        }
        case QVariant::Double: return Variant(v.toDouble());
        case QVariant::Date: return Variant(v.toDate().toString(Qt::ISODate).toStdString());
        case QVariant::DateTime: return Variant(v.toDateTime().toString(Qt::ISODate).toStdString());
        default: return Variant(v.toString().toStdString());
    }
}

// The first page number of the host's layout, as the engine asks for it.
int32_t FirstPageOf(const std::weak_ptr<Core>& weak, const char* op) {
    auto core = weak.lock();
    if (!core) Raise(hresult::kFail, op, "The layout is no longer open.");
    try {
        return FirstPageNumber(core->Layout(op));
    } catch (const std::invalid_argument& e) {
        Raise(hresult::kInvalidArg, op, "The layout " + core->Name() + ": " + e.what() + ".");
    }
}

// The feature id as a field, before the layer's own, where the layer has no field of its ids.
constexpr const char* kIdField = "OBJECTID";

class AtlasFeature final : public ComObject<PageFeature> {
public:
    // `idField`: the series' first field is the feature id, the layer's fields follow.
    AtlasFeature(QgsFeature feature, bool idField) : feature_(std::move(feature)), id_field_(idField) {}
    Variant Value(int32_t index) override {
        HostCall("PageFeature.Value");
        const int32_t offset = id_field_ ? 1 : 0;
        if (index < 0 || index >= feature_.attributes().size() + offset)
            Raise(hresult::kInvalidArg, "PageFeature.Value", "Field index out of range.");
        if (index < offset) return ValueOf(QVariant(feature_.id()));
        return ValueOf(feature_.attribute(index - offset));
    }

private:
    QgsFeature feature_;
    bool id_field_;
};

class AtlasSeries final : public ComObject<MapSeriesFrame> {
public:
    explicit AtlasSeries(std::weak_ptr<Core> core) : core_(std::move(core)) {}

    bool HasSeries(const ComPtr<MapFrame>& frame) override {
        HostCall("MapSeriesFrame.HasSeries");
        auto core = core_.lock();
        QgsLayoutAtlas* atlas = core ? core->Atlas() : nullptr;
        auto* map = qobject_cast<QgsLayoutItemMap*>(ItemOf(frame));
        return map != nullptr && map->atlasDriven() && atlas != nullptr && atlas->coverageLayer() != nullptr;
    }
    bool IsSeriesEnabled(const ComPtr<MapFrame>& frame) override {
        HostCall("MapSeriesFrame.IsSeriesEnabled");
        auto core = core_.lock();
        QgsLayoutAtlas* atlas = core ? core->Atlas() : nullptr;
        return ItemOf(frame) != nullptr && atlas != nullptr && atlas->enabled();
    }
    void Bind(const ComPtr<MapFrame>& frame) override {
        HostCall("MapSeriesFrame.Bind");
        if (!HasSeries(frame))
            Raise(hresult::kInvalidArg, "MapSeriesFrame.Bind", "The map frame carries no map series.");
        series_ = std::make_shared<objects::SeriesData>();
        QgsVectorLayer* layer = Atlas("MapSeriesFrame.Bind").coverageLayer();
        series_->name = layer->name().toStdString();
        // The feature id first, as the standalone host reads a dataset: the layer's id column
        // where QGIS gives it as the layer's first field and its key (a GeoPackage's "fid"),
        // else a field of its own.
        const QgsFields fields = layer->fields();
        const QgsVectorDataProvider* provider = layer->dataProvider();
        const bool idColumn = provider != nullptr && provider->pkAttributeIndexes() == QgsAttributeList{0} &&
                              fields.count() > 0 && FieldTypeOf(fields.at(0).type()) == fieldtype::kInteger;
        id_field_ = !idColumn;
        if (id_field_) series_->fields.push_back({kIdField, fieldtype::kObjectId});
        for (int i = 0; i < fields.count(); ++i) {
            series_->fields.push_back({fields.at(i).name().toStdString(),
                                       idColumn && i == 0 ? fieldtype::kObjectId : FieldTypeOf(fields.at(i).type())});
        }
    }
    ComPtr<SeriesLayer> IndexLayer() override {
        HostCall("MapSeriesFrame.IndexLayer");
        return MakeCom<SeriesLayer, objects::SeriesLayerImpl>(Bound("MapSeriesFrame.IndexLayer"));
    }
    Variant PageCount() override {
        HostCall("MapSeriesFrame.PageCount");
        Bound("MapSeriesFrame.PageCount");
        return Variant(static_cast<int32_t>(Atlas("MapSeriesFrame.PageCount").count()));
    }
    Variant FirstPageNumber() override {
        HostCall("MapSeriesFrame.FirstPageNumber");
        Bound("MapSeriesFrame.FirstPageNumber");
        return Variant(FirstPageOf(core_, "MapSeriesFrame.FirstPageNumber"));
    }
    ComPtr<PageFeature> FeatureAt(int32_t position) override {
        HostCall("MapSeriesFrame.FeatureAt");
        Bound("MapSeriesFrame.FeatureAt");
        QgsLayoutAtlas& atlas = Atlas("MapSeriesFrame.FeatureAt");
        const int32_t inForce = atlas.currentFeatureNumber() + 1;
        if (position != inForce || inForce < 1) {
            Raise(hresult::kInvalidArg, "MapSeriesFrame.FeatureAt",
                  "No page at position " + std::to_string(position) + " is in force (the atlas shows page " +
                      std::to_string(inForce) + ").");
        }
        return MakeCom<PageFeature, AtlasFeature>(atlas.layout()->reportContext().feature(), id_field_);
    }
    void SetCurrentPage(const ComPtr<PageFeature>&, int32_t) override {
        // The atlas put the page in force before the engine was asked to place it.
        HostCall("MapSeriesFrame.SetCurrentPage");
    }

private:
    static QgsLayoutItem* ItemOf(const ComPtr<MapFrame>& frame) {
        Element* e = ElementImplOf(ComPtr<Unknown>(frame));
        return e != nullptr ? e->LiveItem() : nullptr;
    }
    QgsLayoutAtlas& Atlas(const char* op) {
        auto core = core_.lock();
        QgsLayoutAtlas* atlas = core ? core->Atlas() : nullptr;
        if (atlas == nullptr || atlas->coverageLayer() == nullptr)
            Raise(hresult::kFail, op, "The layout's atlas has no coverage layer.");
        return *atlas;
    }
    const std::shared_ptr<objects::SeriesData>& Bound(const char* op) {
        if (!series_) Raise(hresult::kFail, op, "The map series frame is not bound to a map frame.");
        return series_;
    }

    std::weak_ptr<Core> core_;
    std::shared_ptr<objects::SeriesData> series_;
    bool id_field_ = false;  // the feature id is a field before the layer's
};

// ------------------------------------------------------------------ the page in force

// While the atlas shows a feature, the layout is a series layout whose page in force is that
// feature's: the anchor page's Apply then places for the page the designer shows.
class AtlasInForce final : public ComObject<ActiveLayoutInfo> {
public:
    explicit AtlasInForce(std::weak_ptr<Core> core) : core_(std::move(core)) {}
    std::string LayoutName() override {
        HostCall("ActiveLayoutInfo.LayoutName");
        auto core = core_.lock();
        return core ? core->Name() : std::string();
    }
    std::string LayoutKind() override {
        HostCall("ActiveLayoutInfo.LayoutKind");
        auto core = core_.lock();
        const QgsLayoutAtlas* atlas = core ? core->Atlas() : nullptr;
        const bool showing = atlas != nullptr && atlas->enabled() && atlas->coverageLayer() != nullptr &&
                             atlas->currentFeatureNumber() >= 0;
        return showing ? kSeriesLayout : "";
    }

private:
    std::weak_ptr<Core> core_;
};

class AtlasPage final : public ComObject<SeriesLayoutInfo> {
public:
    explicit AtlasPage(std::weak_ptr<Core> core) : core_(std::move(core)) {}
    Variant CurrentPage(const std::string& layoutName) override {
        HostCall("SeriesLayoutInfo.CurrentPage");
        auto core = core_.lock();
        const QgsLayoutAtlas* atlas = core ? core->Atlas() : nullptr;
        if (atlas == nullptr || core->Name() != layoutName)
            Raise(hresult::kInvalidArg, "SeriesLayoutInfo.CurrentPage", "No series layout named " + layoutName + ".");
        // Pages are numbered in the atlas's order from its first page number, as the map series
        // counts them.
        return Variant(
            static_cast<int32_t>(atlas->currentFeatureNumber() + FirstPageOf(core_, "SeriesLayoutInfo.CurrentPage")));
    }

private:
    std::weak_ptr<Core> core_;
};

template <class Impl>
FunctionClassFactory::Maker MakerOf(const char* op, std::weak_ptr<Core> core) {
    return [op, core]() -> ComPtr<Unknown> {
        HostCall(op);
        return ComPtr<Unknown>(MakeCom<Unknown, Impl>(core));
    };
}

}  // namespace

FunctionClassFactory::Maker AtlasSeriesMaker(std::weak_ptr<Core> core) {
    return MakerOf<AtlasSeries>("Create.MapSeriesFrame", std::move(core));
}
FunctionClassFactory::Maker AtlasInForceMaker(std::weak_ptr<Core> core) {
    return MakerOf<AtlasInForce>("Create.ActiveLayoutInfo", std::move(core));
}
FunctionClassFactory::Maker AtlasPageMaker(std::weak_ptr<Core> core) {
    return MakerOf<AtlasPage>("Create.SeriesLayoutInfo", std::move(core));
}

}  // namespace crv::qgis
