#include "windows/boundary/Errors.h"

#include "windows/boundary/Values.h"
#include "windows/platform/Text.h"

namespace crv::win {

HRESULT ResultCode(const ComError& e) {
    if (e.Number() < 0) return static_cast<HRESULT>(e.Number());
    if (e.Number() == 0) return E_FAIL;
    return MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, static_cast<unsigned>(e.Number()) & 0xFFFFu);
}

HRESULT ResultOf(std::exception_ptr error, const Guid& iid) {
    const ComError e = CurrentErrorAsComError(error);
    ICreateErrorInfo* create = nullptr;
    if (SUCCEEDED(CreateErrorInfo(&create))) {
        const std::wstring source = Wide(e.Source());
        const std::wstring description = Wide(e.Description());
        create->SetGUID(ToGUID(iid));
        create->SetSource(const_cast<LPOLESTR>(source.c_str()));
        create->SetDescription(const_cast<LPOLESTR>(description.c_str()));
        IErrorInfo* info = nullptr;
        if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
            SetErrorInfo(0, info);
            info->Release();
        }
        create->Release();
    }
    return ResultCode(e);
}

void FillException(EXCEPINFO* exception, const ComError& e) {
    if (exception == nullptr) return;
    *exception = {};
    exception->scode = ResultCode(e);
    exception->bstrSource = ToBstr(e.Source());
    exception->bstrDescription = ToBstr(e.Description());
}

void Check(HRESULT hr, const char* call) {
    if (SUCCEEDED(hr)) return;
    const int32_t number =
        HRESULT_FACILITY(hr) == FACILITY_CONTROL ? static_cast<int32_t>(HRESULT_CODE(hr)) : static_cast<int32_t>(hr);
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) == S_OK && info != nullptr) {
        BSTR source = nullptr;
        BSTR description = nullptr;
        info->GetSource(&source);
        info->GetDescription(&description);
        info->Release();
        std::string s = TakeBstr(source);
        std::string d = TakeBstr(description);
        Raise(number, s.empty() ? call : s, d);
    }
    Raise(number, call, SystemMessage(static_cast<unsigned long>(hr)));
}

}  // namespace crv::win
