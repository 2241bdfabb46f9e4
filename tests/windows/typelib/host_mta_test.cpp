// A client in the multithreaded apartment creates the test host's application, which is
// apartment-threaded: the platform hands the client a proxy, made from the host's own type
// library, which the test host registers. No component is registered, so nothing of the
// component's may be what makes the call work. Prints what it found; exits 1 on a failure.
//   host_mta_test.exe
#include "CRVAnchorHost.h"
#include "host/HostClasses.h"
#include "windows/platform/Guids.h"

#include <windows.h>

#include <cstdio>

namespace {

int Failed(const char* what, HRESULT hr) {
    std::printf("FAILED: %s: 0x%08lx\n", what, static_cast<unsigned long>(hr));
    return 1;
}

}  // namespace

int main() {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    CLSID component{};
    if (SUCCEEDED(CLSIDFromProgID(L"CRVAnchor.CRVAnchorManager", &component))) {
        std::printf("FAILED: the component is registered; the test needs it not to be\n");
        return 1;
    }
    ICrvHostApplication* app = nullptr;
    HRESULT hr = CoCreateInstance(crv::win::ToGUID(crv::clsid::HostApplication), nullptr, CLSCTX_INPROC_SERVER,
                                  crv::win::ToGUID(crv::HostApplication::IID), reinterpret_cast<void**>(&app));
    if (FAILED(hr)) return Failed("CoCreateInstance of the application", hr);
    ICrvHostDocument* document = nullptr;
    hr = app->get_Document(&document);
    app->Release();
    if (FAILED(hr)) return Failed("Document", hr);
    ICrvElementContainer* layout = nullptr;
    hr = document->get_PageLayout(&layout);
    document->Release();
    if (FAILED(hr)) return Failed("PageLayout", hr);
    ICrvLayoutElement* element = nullptr;
    layout->Reset();
    hr = layout->Next(&element);
    layout->Release();
    if (FAILED(hr) || element == nullptr) return Failed("Next", hr);
    BSTR name = nullptr;
    hr = element->get_Name(&name);
    element->Release();
    if (FAILED(hr)) return Failed("Name", hr);
    std::printf("first element through the proxy: %ls\n", name);
    SysFreeString(name);
    CoUninitialize();
    return 0;
}
