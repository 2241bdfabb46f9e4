#pragma once
// A standalone host with an 8.5 x 11 page and a recorder for error reports.

#include "anchor/AnchorRecord.h"
#include "anchor/CRVAnchorManager.h"
#include "anchor/GeneralFunctions.h"
#include "errors/ErrorHandling.h"
#include "standalone/host/StandaloneHost.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace crv::testing {

using objects::Rect;
using standalone::ElementKind;
using standalone::StandaloneHost;

class EngineTest : public ::testing::Test {
protected:
    EngineTest() : alive_before_(support::Tracked::Alive()) {}

    // Gives the element a default record with these keys changed.
    ComPtr<PropertyBag> GiveRecord(const ComPtr<LayoutElement>& element, const std::map<std::string, Variant>& keys) {
        ComPtr<_CRVAnchorManager> m = MakeCom<_CRVAnchorManager, CRVAnchorManager>();
        ComPtr<PropertyBag> record = m->MakeAnchorProperties();
        for (const auto& [k, v] : keys) record->SetProperty(k, v);
        m->AddAnchorProperties(element, record);
        return record;
    }

    ComPtr<CRVAnchorManager> NewManager() { return ComPtr<CRVAnchorManager>(new CRVAnchorManager()); }

    // Selects the element and places it for one page.
    void Place(const ComPtr<LayoutElement>& element, int32_t page) {
        auto m = NewManager();
        m->SetAnchorElement(element);
        m->AnchorElement(page);
    }

    // The texts of the reports shown so far, each reduced to its description lines.
    std::vector<std::string> Descriptions() const {
        std::vector<std::string> out;
        for (const auto& r : sink_.reports) {
            const std::string marker = "Description\r\n\t";
            const size_t at = r.text.rfind(marker);
            out.push_back(at == std::string::npos
                              ? r.text
                              : r.text.substr(at + marker.size(), r.text.size() - at - marker.size() - 4));
        }
        return out;
    }

    StandaloneHost host_;
    RecordingErrorSink sink_;
    ScopedErrorSink scope_{sink_};
    int64_t alive_before_;
};

inline std::map<std::string, Variant> Anchored(std::map<std::string, Variant> keys) {
    keys.emplace(key::AnchorElement, true);
    return keys;
}

}  // namespace crv::testing
