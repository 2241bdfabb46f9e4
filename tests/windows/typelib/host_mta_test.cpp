// A client in the multithreaded apartment creates the test host's application, which is
// apartment-threaded: the platform hands the client a proxy, made from the host's own type
// library, which the test host registers. No component is registered, so nothing of the
// component's may be what makes the call work. Then the component's page, loaded from its file
// on a thread of its own as a host's property frame would hold it, is called from this
// apartment through the page interface, which the host's library defines and registers.
// Prints what it found; exits 1 on a failure.
//   host_mta_test.exe COMPONENT_DLL
#include "CRVAnchorHost.h"
#include "host/HostClasses.h"
#include "CRVAnchorTypeLib.h"
#include "windows/platform/Guids.h"
#include "windows/platform/Text.h"

#include <windows.h>

#include <cstdio>
#include <string>

namespace {

int Failed(const char* what, HRESULT hr) {
    std::printf("FAILED: %s: 0x%08lx\n", what, static_cast<unsigned long>(hr));
    return 1;
}

}  // namespace

// The page's thread: an apartment of its own that makes the page, hands it over in a stream and
// serves calls until it is told to quit.
struct PageThread {
    const wchar_t* library;
    IStream* stream = nullptr;
    HRESULT made = E_FAIL;
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD id = 0;
};

DWORD WINAPI ServePage(void* argument) {
    auto* t = static_cast<PageThread*>(argument);
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    MSG message;
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);  // the queue exists before anyone posts to it
    ICrvComPropertyPage* page = nullptr;
    const HMODULE module = LoadLibraryW(t->library);
    using GetClassObject = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
    const auto get = module == nullptr ? nullptr
                                       : reinterpret_cast<GetClassObject>(
                                             reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
    IClassFactory* factory = nullptr;
    t->made = get == nullptr ? HRESULT_FROM_WIN32(GetLastError())
                             : get(crv::win::ToGUID(crv::typelib::kClsidAnchorPropertyPage), IID_IClassFactory,
                                   reinterpret_cast<void**>(&factory));
    if (SUCCEEDED(t->made)) {
        t->made = factory->CreateInstance(nullptr, crv::win::ToGUID(crv::IComPropertyPage::IID),
                                          reinterpret_cast<void**>(&page));
        factory->Release();
    }
    if (SUCCEEDED(t->made)) {
        t->made = CoMarshalInterThreadInterfaceInStream(crv::win::ToGUID(crv::IComPropertyPage::IID), page, &t->stream);
    }
    SetEvent(t->ready);
    while (GetMessageW(&message, nullptr, 0, 0) > 0) DispatchMessageW(&message);
    if (page != nullptr) page->Release();
    CoUninitialize();
    return 0;
}

// The page's title and priority read, and a priority set (which the page keeps to itself), from
// this apartment through a proxy.
int CallPageAcross(const wchar_t* library) {
    PageThread t{library};
    const HANDLE thread = CreateThread(nullptr, 0, ServePage, &t, 0, &t.id);
    WaitForSingleObject(t.ready, INFINITE);
    int failed = 0;
    ICrvComPropertyPage* page = nullptr;
    HRESULT hr = t.made;
    if (FAILED(hr)) {
        failed = Failed("making the page and marshaling its page interface", hr);
    } else if (FAILED(hr = CoGetInterfaceAndReleaseStream(t.stream, crv::win::ToGUID(crv::IComPropertyPage::IID),
                                                          reinterpret_cast<void**>(&page)))) {
        failed = Failed("unmarshaling the page interface", hr);
    } else {
        BSTR title = nullptr;
        LONG priority = 0;
        if (FAILED(hr = page->get_Title(&title))) {
            failed = Failed("Title through the proxy", hr);
        } else if (FAILED(hr = page->put_Priority(7)) || FAILED(hr = page->get_Priority(&priority))) {
            failed = Failed("Priority through the proxy", hr);
        } else {
            std::printf("the page through the proxy: %ls, priority %ld\n", title, static_cast<long>(priority));
        }
        SysFreeString(title);
        page->Release();
    }
    PostThreadMessageW(t.id, WM_QUIT, 0, 0);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    CloseHandle(t.ready);
    return failed;
}

int main(int argc, char** argv) {
    if (argc != 2) {
        std::printf("usage: host_mta_test COMPONENT_DLL\n");
        return 2;
    }
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
    const std::wstring library = crv::win::Wide(argv[1]);
    const int failed = CallPageAcross(library.c_str());
    CoUninitialize();
    return failed;
}
