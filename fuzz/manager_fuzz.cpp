// The engine reading arbitrary records and placing for arbitrary pages: wrong kinds, missing
// keys, huge and non-finite numbers, texts that are not numbers, codes out of range, pages at
// the limits of 32-bit arithmetic. Nothing may crash, move an element by a non-finite amount,
// or leave a host object alive.
#include "anchor/AnchorRecord.h"
#include "anchor/CRVAnchorManager.h"
#include "errors/ErrorHandling.h"
#include "standalone/host/StandaloneHost.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <limits>

using namespace crv;
using standalone::StandaloneHost;

namespace {

Variant AnyValue(FuzzedDataProvider& in) {
    switch (in.ConsumeIntegralInRange<int>(0, 9)) {
        case 0: return {};
        case 1: return Variant::Null();
        case 2: return Variant(in.ConsumeBool());
        case 3: return Variant(in.ConsumeIntegral<int16_t>());
        case 4: return Variant(in.ConsumeIntegral<int32_t>());
        case 5: return Variant(in.ConsumeFloatingPoint<double>());
        case 6: {
            const double special[] = {std::numeric_limits<double>::infinity(),
                                      -std::numeric_limits<double>::infinity(),
                                      std::numeric_limits<double>::quiet_NaN(),
                                      1e308,
                                      -1e308,
                                      32767.5,
                                      -32768.5};
            return Variant(special[in.ConsumeIntegralInRange<size_t>(0, 6)]);
        }
        case 7: return Variant(in.ConsumeRandomLengthString(24));
        case 8: return Variant(std::to_string(in.ConsumeIntegralInRange<int>(-10, 10)));
        default:
            return Variant(
                std::string(in.PickValueInArray({"Layout", "NamedElement", "<None>", "Map", "Dx", "1-3,7", "True"})));
    }
}

int32_t AnyPage(FuzzedDataProvider& in) {
    const int32_t edges[] = {std::numeric_limits<int32_t>::min(),    std::numeric_limits<int32_t>::max(), 0, 1, -1,
                             std::numeric_limits<int32_t>::max() - 1};
    return in.ConsumeBool() ? in.PickValueInArray(edges) : in.ConsumeIntegral<int32_t>();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    RecordingErrorSink sink;
    ScopedErrorSink scope(sink);
    const int64_t alive_before = support::Tracked::Alive();
    {
        StandaloneHost host({in.ConsumeFloatingPointInRange<double>(-1e6, 1e6),
                             in.ConsumeFloatingPointInRange<double>(-1e6, 1e6), in.ConsumeBool()});
        auto frame = host.AddMapFrame("Map", {1, 1, 7, 9}, in.ConsumeFloatingPointInRange<double>(0, 1));
        objects::SeriesData series;
        series.fields = {{"Dx", in.ConsumeIntegralInRange<int32_t>(0, 12)}, {"Dy", fieldtype::kDouble}};
        const int pages = in.ConsumeIntegralInRange<int>(0, 8);
        for (int i = 0; i < pages; ++i) series.features.push_back({AnyValue(in), AnyValue(in)});
        series.first_page_number = in.ConsumeIntegral<int32_t>();
        series.enabled = in.ConsumeBool();
        host.AttachSeries(frame, series);
        auto element = host.AddText("Element", {0, 0, 1, 1});

        ComPtr<_CRVAnchorManager> m = MakeCom<_CRVAnchorManager, CRVAnchorManager>();
        ComPtr<PropertyBag> record = m->MakeAnchorProperties();
        for (const RecordKey& k : RecordKeys()) {
            const int what = in.ConsumeIntegralInRange<int>(0, 3);
            if (what == 0) record->RemoveProperty(k.name);
            if (what == 1) record->SetProperty(k.name, AnyValue(in));
        }
        m->AddAnchorProperties(element, record);
        m->SetAnchorElement(element);
        while (in.remaining_bytes() > 0) {
            m->AnchorElement(AnyPage(in));
            const auto r = StandaloneHost::ExtentOf(element);
            if (!std::isfinite(r.xmin) || !std::isfinite(r.ymax)) __builtin_trap();
        }
        m->Reset();
    }
    if (support::Tracked::Alive() != alive_before) __builtin_trap();
    if (FormattedErrorFlag()) __builtin_trap();
    return 0;
}
