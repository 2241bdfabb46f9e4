// crvanchor-pagecapture.exe TAB SECONDS: shows the sample anchor page (the Qt capture's) in a
// property sheet of the platform, with tab TAB (1 to 4) of the page chosen, prints the sheet's
// place on the screen ("sheet X Y WIDTH HEIGHT") and closes it after SECONDS, so that a script
// can take a picture of the screen in between (scripts/windows_page_screenshots.sh).

#include "propertypage/AnchorPropertyPage.h"
#include "standalone/tools/PageSample.h"
#include "windows/page/PageResources.h"
#include "windows/platform/Text.h"

#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

struct SheetPage {
    crv::AnchorPropertyPage* page;
    HWND form;
};

// The sheet's page takes in the anchor page's window and passes Apply on.
INT_PTR CALLBACK SheetPageProcedure(HWND dialog, UINT message, WPARAM, LPARAM l) {
    if (message == WM_INITDIALOG) {
        auto* sheetPage = reinterpret_cast<SheetPage*>(reinterpret_cast<const PROPSHEETPAGEW*>(l)->lParam);
        SetWindowLongPtrW(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(sheetPage));
        SetParent(sheetPage->form, dialog);
        SetWindowPos(sheetPage->form, HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE | SWP_SHOWWINDOW);
        return TRUE;
    }
    if (message == WM_NOTIFY && reinterpret_cast<const NMHDR*>(l)->code == static_cast<UINT>(PSN_APPLY)) {
        reinterpret_cast<SheetPage*>(GetWindowLongPtrW(dialog, DWLP_USER))->page->Apply();
        SetWindowLongPtrW(dialog, DWLP_MSGRESULT, PSNRET_NOERROR);
        return TRUE;
    }
    return FALSE;
}

// An empty page of the anchor page's size, in the dialog units of the anchor page's own font.
struct alignas(4) EmptyPage {
    DLGTEMPLATE dialog;
    WORD menu, windowClass, title;
};

EmptyPage EmptyPageFor(HWND form, int width, int height) {
    RECT unit{0, 0, 4, 8};
    MapDialogRect(form, &unit);
    EmptyPage t{};
    t.dialog.style = WS_CHILD | DS_CONTROL;
    t.dialog.cx = static_cast<short>(MulDiv(width, 4, unit.right));
    t.dialog.cy = static_cast<short>(MulDiv(height, 8, unit.bottom));
    return t;
}

int Capture(int tab, double seconds) {
    crv::standalone::StandaloneHost host;
    const crv::ComPtr<crv::LayoutElement> title = crv::tools::AddSamplePage(host);
    auto page = crv::ComPtr<crv::AnchorPropertyPage>(new crv::AnchorPropertyPage());
    page->SetPageSite(crv::MakeCom<crv::PropertyPageSite, crv::objects::PageSiteImpl>());
    page->SetObjects(host.Selection({crv::ComPtr<crv::Unknown>(title)}));
    SheetPage sheetPage{page.Get(), reinterpret_cast<HWND>(page->Activate())};
    page->Show();
    page->Form().View().Controls().sstabAnchorProperties->SetCurrentTab(tab - 1);

    const EmptyPage empty = EmptyPageFor(sheetPage.form, page->Width(), page->Height());
    const std::wstring pageTitle = crv::win::Wide(page->Title());
    PROPSHEETPAGEW sheetPageInfo{};
    sheetPageInfo.dwSize = sizeof sheetPageInfo;
    sheetPageInfo.dwFlags = PSP_DLGINDIRECT | PSP_USETITLE;
    sheetPageInfo.pResource = &empty.dialog;
    sheetPageInfo.pszTitle = pageTitle.c_str();
    sheetPageInfo.pfnDlgProc = &SheetPageProcedure;
    sheetPageInfo.lParam = reinterpret_cast<LPARAM>(&sheetPage);
    PROPSHEETHEADERW header{};
    header.dwSize = sizeof header;
    header.dwFlags = PSH_MODELESS | PSH_PROPSHEETPAGE | PSH_PROPTITLE;
    header.pszCaption = L"Title";
    header.nPages = 1;
    header.ppsp = &sheetPageInfo;
    const auto sheet = reinterpret_cast<HWND>(PropertySheetW(&header));
    if (sheet == nullptr) {
        std::fprintf(stderr, "crvanchor-pagecapture: the property sheet could not be made\n");
        return 1;
    }
    SetWindowPos(sheet, HWND_TOP, 40, 40, 0, 0, SWP_NOSIZE);
    SetForegroundWindow(sheet);
    // As a user who clicked the page's tab sees it: the focus there, and no keyboard cues.
    SetFocus(GetDlgItem(sheetPage.form, IDC_sstabAnchorProperties));
    SendMessageW(sheet, WM_CHANGEUISTATE, MAKEWPARAM(UIS_SET, UISF_HIDEFOCUS | UISF_HIDEACCEL), 0);
    RECT r{};
    GetWindowRect(sheet, &r);
    std::printf("sheet %ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
    std::fflush(stdout);

    const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(seconds * 1000);
    for (ULONGLONG now = GetTickCount64(); now < end && IsWindow(sheet); now = GetTickCount64()) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(end - now), QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (SendMessageW(sheet, PSM_ISDIALOGMESSAGE, 0, reinterpret_cast<LPARAM>(&message)) != 0) continue;
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
    }
    page->Deactivate();
    if (IsWindow(sheet)) DestroyWindow(sheet);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const int tab = argc == 3 ? std::atoi(argv[1]) : 0;
    if (tab < 1 || tab > 4) {
        std::fprintf(stderr, "usage: crvanchor-pagecapture TAB(1-4) SECONDS\n");
        return 2;
    }
    return Capture(tab, std::atof(argv[2]));
}
