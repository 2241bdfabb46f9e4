// Prints what the platform's own type-library reader finds in each file given: the library, its
// types with their flags, every function with its dispatch id, kind and parameters (an optional
// one's default too), and the interfaces each class lists. One JSON document a file, one line,
// for a test to compare with the interfaces' description.
//   typelib_dump.exe FILE...
#include <windows.h>
#include <oleauto.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string Narrow(const wchar_t* text) {
    if (text == nullptr) return {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n - 1 : 0), '\0');
    if (n > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
    return out;
}

std::string Quoted(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

std::string GuidText(const GUID& g) {
    wchar_t buffer[40] = {};
    StringFromGUID2(g, buffer, 40);
    return Narrow(buffer);
}

std::string NameOf(ITypeInfo* info, MEMBERID id) {
    BSTR name = nullptr;
    if (FAILED(info->GetDocumentation(id, &name, nullptr, nullptr, nullptr))) return "?";
    std::string out = Narrow(name);
    SysFreeString(name);
    return out;
}

std::string HelpOf(ITypeInfo* info, MEMBERID id) {
    BSTR help = nullptr;
    if (FAILED(info->GetDocumentation(id, nullptr, &help, nullptr, nullptr))) return "?";
    std::string out = Narrow(help);
    SysFreeString(help);
    return out;
}

// A parameter's type as the interface language spells it: base names, a star per pointer.
std::string TypeText(ITypeInfo* info, const TYPEDESC& t) {
    switch (t.vt) {
        case VT_PTR: return TypeText(info, *t.lptdesc) + "*";
        case VT_USERDEFINED: {
            ITypeInfo* referenced = nullptr;
            if (FAILED(info->GetRefTypeInfo(t.hreftype, &referenced))) return "?";
            std::string name = NameOf(referenced, MEMBERID_NIL);
            referenced->Release();
            return name;
        }
        case VT_BOOL: return "VARIANT_BOOL";
        case VT_I2: return "short";
        case VT_I4: return "long";
        case VT_I8: return "LONGLONG";
        case VT_R8: return "double";
        case VT_BSTR: return "BSTR";
        case VT_VARIANT: return "VARIANT";
        case VT_UNKNOWN: return "IUnknown*";
        case VT_DISPATCH: return "IDispatch*";
        case VT_HRESULT: return "HRESULT";
        case VT_VOID: return "void";
        default: return "vt" + std::to_string(t.vt);
    }
}

std::string Flags(const std::vector<std::pair<unsigned, const char*>>& names, unsigned flags) {
    std::string out = "[";
    for (const auto& [bit, name] : names) {
        if ((flags & bit) == 0) continue;
        if (out.size() > 1) out += ",";
        out += Quoted(name);
    }
    return out + "]";
}

// An optional parameter's default as JSON: text, a number, a flag; any other kind by its number.
std::string DefaultValue(const PARAMDESC& desc) {
    if ((desc.wParamFlags & PARAMFLAG_FHASDEFAULT) == 0 || desc.pparamdescex == nullptr) return "null";
    const VARIANT& v = desc.pparamdescex->varDefaultValue;
    switch (V_VT(&v)) {
        case VT_BSTR: return Quoted(Narrow(V_BSTR(&v)));
        case VT_BOOL: return V_BOOL(&v) != VARIANT_FALSE ? "true" : "false";
        case VT_I2: return std::to_string(V_I2(&v));
        case VT_I4: return std::to_string(V_I4(&v));
        default: return Quoted("vt" + std::to_string(V_VT(&v)));
    }
}

const char* Kind(INVOKEKIND kind) {
    switch (kind) {
        case INVOKE_PROPERTYGET: return "propget";
        case INVOKE_PROPERTYPUT: return "propput";
        case INVOKE_PROPERTYPUTREF: return "propputref";
        default: return "method";
    }
}

std::string Functions(ITypeInfo* info, const TYPEATTR& attr) {
    std::string out = "[";
    for (UINT f = 0; f < attr.cFuncs; ++f) {
        FUNCDESC* func = nullptr;
        if (FAILED(info->GetFuncDesc(f, &func))) continue;
        BSTR names[32] = {};
        UINT count = 0;
        info->GetNames(func->memid, names, 32, &count);
        if (f > 0) out += ",";
        out += "{\"name\":" + Quoted(Narrow(names[0])) + ",\"memid\":" + std::to_string(func->memid) +
               ",\"kind\":" + Quoted(Kind(func->invkind)) + ",\"help\":" + Quoted(HelpOf(info, func->memid)) +
               ",\"params\":[";
        for (SHORT p = 0; p < func->cParams; ++p) {
            const ELEMDESC& e = func->lprgelemdescParam[p];
            const std::string name = static_cast<UINT>(p + 1) < count ? Narrow(names[p + 1]) : "";
            if (p > 0) out += ",";
            out += "{\"name\":" + Quoted(name) + ",\"type\":" + Quoted(TypeText(info, e.tdesc)) + ",\"flags\":" +
                   Flags({{PARAMFLAG_FIN, "in"}, {PARAMFLAG_FOUT, "out"}, {PARAMFLAG_FRETVAL, "retval"},
                          {PARAMFLAG_FOPT, "optional"}, {PARAMFLAG_FHASDEFAULT, "hasdefault"}},
                         e.paramdesc.wParamFlags) +
                   ((e.paramdesc.wParamFlags & PARAMFLAG_FHASDEFAULT) != 0 ? ",\"default\":" + DefaultValue(e.paramdesc)
                                                                           : std::string()) +
                   "}";
        }
        out += "]}";
        for (UINT n = 0; n < count; ++n) SysFreeString(names[n]);
        info->ReleaseFuncDesc(func);
    }
    return out + "]";
}

std::string Implemented(ITypeInfo* info, const TYPEATTR& attr) {
    std::string out = "[";
    for (UINT i = 0; i < attr.cImplTypes; ++i) {
        HREFTYPE ref = 0;
        INT flags = 0;
        ITypeInfo* implemented = nullptr;
        if (FAILED(info->GetRefTypeOfImplType(i, &ref)) || FAILED(info->GetRefTypeInfo(ref, &implemented))) continue;
        info->GetImplTypeFlags(i, &flags);
        if (i > 0) out += ",";
        out += "{\"name\":" + Quoted(NameOf(implemented, MEMBERID_NIL)) + ",\"flags\":" +
               Flags({{IMPLTYPEFLAG_FDEFAULT, "default"}}, static_cast<unsigned>(flags)) + "}";
        implemented->Release();
    }
    return out + "]";
}

std::string Type(ITypeLib* library, UINT index) {
    ITypeInfo* info = nullptr;
    if (FAILED(library->GetTypeInfo(index, &info))) return "null";
    TYPEATTR* attr = nullptr;
    info->GetTypeAttr(&attr);
    const char* kind = attr->typekind == TKIND_COCLASS ? "coclass" : attr->typekind == TKIND_DISPATCH ? "dispatch"
                       : attr->typekind == TKIND_INTERFACE                                   ? "interface"
                                                                                             : "other";
    std::string out = "{\"kind\":" + Quoted(kind) + ",\"name\":" + Quoted(NameOf(info, MEMBERID_NIL)) +
                      ",\"help\":" + Quoted(HelpOf(info, MEMBERID_NIL)) +
                      ",\"guid\":" + Quoted(GuidText(attr->guid)) + ",\"flags\":" +
                      Flags({{TYPEFLAG_FHIDDEN, "hidden"}, {TYPEFLAG_FNONEXTENSIBLE, "nonextensible"},
                             {TYPEFLAG_FAPPOBJECT, "appobject"}, {TYPEFLAG_FDUAL, "dual"},
                             {TYPEFLAG_FOLEAUTOMATION, "oleautomation"}},
                            attr->wTypeFlags);
    if (attr->typekind == TKIND_COCLASS) {
        out += ",\"implements\":" + Implemented(info, *attr);
    } else {
        // A dual interface's functions as its interface declares them, with their return values.
        ITypeInfo* own = info;
        TYPEATTR* own_attr = attr;
        HREFTYPE ref = 0;
        if (attr->typekind == TKIND_DISPATCH && SUCCEEDED(info->GetRefTypeOfImplType(static_cast<UINT>(-1), &ref)) &&
            SUCCEEDED(info->GetRefTypeInfo(ref, &own))) {
            own->GetTypeAttr(&own_attr);
        }
        out += ",\"functions\":" + Functions(own, *own_attr);
        if (own != info) {
            own->ReleaseTypeAttr(own_attr);
            own->Release();
        }
    }
    info->ReleaseTypeAttr(attr);
    info->Release();
    return out + "}";
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    int status = 0;
    for (int a = 1; a < argc; ++a) {
        ITypeLib* library = nullptr;
        const HRESULT hr = LoadTypeLibEx(argv[a], REGKIND_NONE, &library);
        if (FAILED(hr)) {
            std::fprintf(stderr, "%s: no type library (0x%08lx)\n", Narrow(argv[a]).c_str(), static_cast<unsigned long>(hr));
            status = 1;
            continue;
        }
        TLIBATTR* attr = nullptr;
        library->GetLibAttr(&attr);
        BSTR name = nullptr;
        BSTR help = nullptr;
        library->GetDocumentation(-1, &name, &help, nullptr, nullptr);
        std::string out = "{\"name\":" + Quoted(Narrow(name)) + ",\"help\":" + Quoted(Narrow(help)) +
                          ",\"libid\":" + Quoted(GuidText(attr->guid)) + ",\"version\":[" +
                          std::to_string(attr->wMajorVerNum) + "," + std::to_string(attr->wMinorVerNum) +
                          "],\"types\":[";
        SysFreeString(name);
        SysFreeString(help);
        library->ReleaseTLibAttr(attr);
        for (UINT i = 0, n = library->GetTypeInfoCount(); i < n; ++i) out += (i > 0 ? "," : "") + Type(library, i);
        std::printf("%s]}\n", out.c_str());
        library->Release();
    }
    CoUninitialize();
    return status;
}
