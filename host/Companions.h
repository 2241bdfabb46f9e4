#pragma once
// The companion multi-page layout components installed beside the host: map series on map
// frames, the multi-page layout in force, series layouts and section templates.

#include "host/Layout.h"
#include "host/Series.h"

#include <string>

namespace crv {

class MapSeriesFrame : public Unknown {
public:
    static constexpr Guid IID = MakeGuid("227dbdfe-0356-480f-92a7-3834003688d2");
    // First test: the frame carries a map series.
    virtual bool HasSeries(const ComPtr<MapFrame>& frame) = 0;
    // Second test, asked only after the first says yes: the series is usable.
    virtual bool IsSeriesEnabled(const ComPtr<MapFrame>& frame) = 0;
    virtual void Bind(const ComPtr<MapFrame>& frame) = 0;
    // After Bind: the index layer whose features are the pages.
    virtual ComPtr<SeriesLayer> IndexLayer() = 0;
    virtual Variant PageCount() = 0;
    virtual Variant FirstPageNumber() = 0;
    // The feature of the page at a 1-based position.
    virtual ComPtr<PageFeature> FeatureAt(int32_t position) = 0;
    // The page now being shown.
    virtual void SetCurrentPage(const ComPtr<PageFeature>& feature, int32_t position) = 0;

protected:
    ~MapSeriesFrame() = default;
};

class ActiveLayoutInfo : public Unknown {
public:
    static constexpr Guid IID = MakeGuid("12e4753d-b61e-4724-a688-4f77dac3b4f3");
    static constexpr const char* kSeriesLayout = "SeriesLayout";
    static constexpr const char* kSectionTemplate = "SectionTemplate";

    virtual std::string LayoutName() = 0;
    virtual std::string LayoutKind() = 0;

protected:
    ~ActiveLayoutInfo() = default;
};

class SeriesLayoutInfo : public Unknown {
public:
    static constexpr Guid IID = MakeGuid("6d03f9e2-5b85-409d-aba3-c805409a8f4a");
    virtual Variant CurrentPage(const std::string& layoutName) = 0;

protected:
    ~SeriesLayoutInfo() = default;
};

class SectionTemplateInfo : public Unknown {
public:
    static constexpr Guid IID = MakeGuid("4de81d02-9011-470d-8c95-ce72c2bb3f8f");
    virtual Variant StartingPage(const std::string& templateName) = 0;
    virtual std::string CurrentSection(const std::string& templateName) = 0;
    // A section is named within its template: two templates may each have a section "Index".
    virtual Variant SectionPage(const std::string& templateName, const std::string& sectionName) = 0;

protected:
    ~SectionTemplateInfo() = default;
};

}  // namespace crv
