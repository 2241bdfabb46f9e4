#include "windows/page/Win32Controls.h"

#include "windows/page/PageResources.h"
#include "windows/platform/Text.h"

#include <commctrl.h>

#include <array>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace crv::controls {

namespace {

// The module whose resources hold the dialogs: the one this code is linked into, a library
// or a program.
HINSTANCE ThisModule() {
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ThisModule), &module);
    return module;
}

std::wstring WindowText(HWND window) {
    std::wstring text(static_cast<size_t>(GetWindowTextLengthW(window)), L'\0');
    GetWindowTextW(window, text.data(), static_cast<int>(text.size() + 1));
    return text;
}

// Takes a control's notifications, from WM_COMMAND or WM_NOTIFY.
class NotificationTarget {
public:
    virtual ~NotificationTarget() = default;
    virtual void Notification(UINT code) = 0;
};

template <class Interface>
class Win32Control : public Interface, public NotificationTarget {
public:
    explicit Win32Control(HWND window) : window_(window) {}

    // The control's own flags, not those it inherits from the page.
    bool Enabled() const override { return IsWindowEnabled(window_) != FALSE; }
    void SetEnabled(bool on) override { EnableWindow(window_, on ? TRUE : FALSE); }
    bool Visible() const override { return (GetWindowLongPtrW(window_, GWL_STYLE) & WS_VISIBLE) != 0; }
    void SetVisible(bool on) override { ShowWindow(window_, on ? SW_SHOWNA : SW_HIDE); }

protected:
    LRESULT Send(UINT message, WPARAM w = 0, LPARAM l = 0) const { return SendMessageW(window_, message, w, l); }

    HWND window_;
};

// A combo box and a list box take the same requests under other message numbers.
struct ComboMessages {
    static constexpr UINT kCount = CB_GETCOUNT, kChosen = CB_GETCURSEL, kChoose = CB_SETCURSEL,
                          kTextLength = CB_GETLBTEXTLEN, kText = CB_GETLBTEXT, kAdd = CB_ADDSTRING,
                          kClear = CB_RESETCONTENT, kChanged = CBN_SELCHANGE;
};
struct ListMessages {
    static constexpr UINT kCount = LB_GETCOUNT, kChosen = LB_GETCURSEL, kChoose = LB_SETCURSEL,
                          kTextLength = LB_GETTEXTLEN, kText = LB_GETTEXT, kAdd = LB_ADDSTRING,
                          kClear = LB_RESETCONTENT, kChanged = LBN_SELCHANGE;
};

// Neither control reports a change made by a message, and neither sorts (the resource says
// so), so an entry added goes last and leaves the choice as it was.
template <class Interface, class M>
class Win32List final : public Win32Control<Interface> {
public:
    using Win32Control<Interface>::Win32Control;
    void Notification(UINT code) override {
        if (code == M::kChanged) this->Notify();
    }

protected:
    int Count() const override { return static_cast<int>(this->Send(M::kCount)); }
    int Chosen() const override { return static_cast<int>(this->Send(M::kChosen)); }
    std::string Entry(int index) const override {
        const LRESULT length = this->Send(M::kTextLength, static_cast<WPARAM>(index));
        if (length < 0) return {};
        std::wstring text(static_cast<size_t>(length), L'\0');
        this->Send(M::kText, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
        return win::Narrow(text);
    }
    void Choose(int index) override { this->Send(M::kChoose, static_cast<WPARAM>(index)); }
    void Append(const std::string& text) override {
        this->Send(M::kAdd, 0, reinterpret_cast<LPARAM>(win::Wide(text).c_str()));
    }
    void RemoveAll() override { this->Send(M::kClear); }
};

// A box the page turns on and off itself, so that a click moves through the states as the
// other toolkit's box does: on and off, or, once it has shown the greyed state, from off to
// greyed to on.
class Win32CheckBox final : public Win32Control<CheckBox> {
public:
    using Win32Control::Win32Control;
    void Notification(UINT code) override {
        if (code != BN_CLICKED) return;
        const int now = State();
        SetState(threeStates_ ? (now == 0 ? 2 : now == 2 ? 1 : 0) : (now == 1 ? 0 : 1));
        Notify();
    }

protected:
    int State() const override {
        const LRESULT state = Send(BM_GETCHECK);
        return state == BST_CHECKED ? 1 : state == BST_INDETERMINATE ? 2 : 0;
    }
    void SetState(int value) override {
        if (value == 2 && !threeStates_) {
            threeStates_ = true;
            Send(BM_SETSTYLE, BS_3STATE, TRUE);
        }
        Send(BM_SETCHECK, value == 0 ? BST_UNCHECKED : value == 1 ? BST_CHECKED : BST_INDETERMINATE);
    }

private:
    bool threeStates_ = false;
};

// The page turns its option buttons on and off itself too: a click on the button that is on
// already changes nothing and raises nothing.
class Win32OptionButton final : public Win32Control<OptionButton> {
public:
    Win32OptionButton(HWND window, const std::vector<Win32OptionButton*>& group)
        : Win32Control(window), group_(group) {}
    void Notification(UINT code) override {
        if (code != BN_CLICKED || On()) return;
        SetOn(true);
        Notify();
    }

protected:
    bool On() const override { return Send(BM_GETCHECK) == BST_CHECKED; }
    void SetOn(bool on) override {
        if (on) {
            for (Win32OptionButton* other : group_) {
                if (other != this) other->Send(BM_SETCHECK, BST_UNCHECKED);
            }
        }
        Send(BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED);
    }

private:
    const std::vector<Win32OptionButton*>& group_;
};

// An edit control reports text set by a message as an edit; that report is left out.
class Win32TextBox final : public Win32Control<TextBox> {
public:
    using Win32Control::Win32Control;
    void Notification(UINT code) override {
        if (code == EN_CHANGE && !quiet_) Notify();
    }

protected:
    std::string Content() const override { return win::Narrow(WindowText(window_)); }
    void SetContent(const std::string& text) override {
        const std::wstring wide = win::Wide(text);
        quiet_ = true;
        SetWindowTextW(window_, wide.c_str());
        quiet_ = false;
    }

private:
    bool quiet_ = false;
};

class Win32CommandButton final : public Win32Control<CommandButton> {
public:
    using Win32Control::Win32Control;
    void Notification(UINT code) override {
        if (code == BN_CLICKED) Notify();
    }
};

// The tab control with its pages. The platform's tabs cannot be disabled, so the page draws
// a disabled tab's title grey and goes back from it when it is chosen.
class Win32TabStrip final : public Win32Control<TabStrip> {
public:
    Win32TabStrip(HWND tabs, std::vector<HWND> pages) : Win32Control(tabs), pages_(std::move(pages)) {
        enabled_.assign(pages_.size(), 1);
        RECT area{};
        GetWindowRect(window_, &area);
        MapWindowPoints(HWND_DESKTOP, GetParent(window_), reinterpret_cast<POINT*>(&area), 2);
        for (size_t i = 0; i < pages_.size(); ++i) {
            std::wstring title = WindowText(pages_[i]);
            TCITEMW item{};
            item.mask = TCIF_TEXT;
            item.pszText = title.data();
            Send(TCM_INSERTITEMW, i, reinterpret_cast<LPARAM>(&item));
        }
        Send(TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&area));
        for (HWND page : pages_) {
            SetWindowPos(page, HWND_TOP, area.left, area.top, area.right - area.left, area.bottom - area.top,
                         SWP_NOACTIVATE);
        }
        ShowChosenPage();
    }

    void Notification(UINT code) override {
        if (code != static_cast<UINT>(TCN_SELCHANGE)) return;
        if (!TabEnabled(CurrentTab())) {
            Send(TCM_SETCURSEL, static_cast<WPARAM>(shown_));
            return;
        }
        ShowChosenPage();
        Notify();
    }

    int TabCount() const override { return static_cast<int>(pages_.size()); }
    int CurrentTab() const override { return static_cast<int>(Send(TCM_GETCURSEL)); }
    void SetCurrentTab(int index) override {
        if (index < 0 || index >= TabCount() || index == CurrentTab()) return;
        Send(TCM_SETCURSEL, static_cast<WPARAM>(index));
        ShowChosenPage();
        Notify();
    }
    bool TabEnabled(int index) const override {
        return index >= 0 && index < TabCount() && enabled_[static_cast<size_t>(index)];
    }
    // A disabled tab gives up its place to the next one that is enabled, else the one before.
    void SetTabEnabled(int index, bool on) override {
        if (index < 0 || index >= TabCount()) return;
        enabled_[static_cast<size_t>(index)] = on ? 1 : 0;
        InvalidateRect(window_, nullptr, TRUE);
        if (on || index != CurrentTab()) return;
        for (int i = index + 1; i < TabCount(); ++i) {
            if (TabEnabled(i)) return SetCurrentTab(i);
        }
        for (int i = index - 1; i >= 0; --i) {
            if (TabEnabled(i)) return SetCurrentTab(i);
        }
    }

    void Draw(const DRAWITEMSTRUCT& item) const {
        const int index = static_cast<int>(item.itemID);
        std::wstring title = WindowText(pages_[static_cast<size_t>(index)]);
        RECT r = item.rcItem;
        FillRect(item.hDC, &r, GetSysColorBrush(COLOR_BTNFACE));
        SetBkMode(item.hDC, TRANSPARENT);
        SetTextColor(item.hDC, GetSysColor(TabEnabled(index) ? COLOR_BTNTEXT : COLOR_GRAYTEXT));
        DrawTextW(item.hDC, title.c_str(), static_cast<int>(title.size()), &r,
                  DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
    }

private:
    void ShowChosenPage() {
        shown_ = CurrentTab();
        for (size_t i = 0; i < pages_.size(); ++i) {
            ShowWindow(pages_[i], static_cast<int>(i) == shown_ ? SW_SHOWNA : SW_HIDE);
        }
    }

    std::vector<HWND> pages_;
    std::vector<char> enabled_;  // not vector<bool>: GCC 12 sees a null dereference in its assign at -O2
    int shown_ = 0;
};

using Win32DropDownList = Win32List<DropDownList, ComboMessages>;
using Win32ListBox = Win32List<ListBox, ListMessages>;

#define CRV_NAMED(name) \
    std::pair<std::string_view, int> { #name, IDC_##name }

// Every control of the form by its name, for the code that looks one up.
constexpr std::array kNames = {CRV_NAMED(lblTitle),
                               CRV_NAMED(lblTitleNote),
                               CRV_NAMED(sstabAnchorProperties),
                               CRV_NAMED(lblAnchoringDescription),
                               CRV_NAMED(chkAnchor),
                               CRV_NAMED(OptAnchorTo_0),
                               CRV_NAMED(OptAnchorTo_1),
                               CRV_NAMED(lblElementHint),
                               CRV_NAMED(lstElementNames),
                               CRV_NAMED(framePageScale),
                               CRV_NAMED(lblMultiPage),
                               CRV_NAMED(optMultiPage_0),
                               CRV_NAMED(optMultiPage_1),
                               CRV_NAMED(cmbAlternateType),
                               CRV_NAMED(lblPageRange),
                               CRV_NAMED(txtPageRange),
                               CRV_NAMED(lblPageRangeHint),
                               CRV_NAMED(lblAnchorTheAll),
                               CRV_NAMED(cmbAnchorFromAll),
                               CRV_NAMED(lblOfThisElementAll),
                               CRV_NAMED(lblToTheAll),
                               CRV_NAMED(cmbAnchorToAll),
                               CRV_NAMED(lblPageSelectedAll),
                               CRV_NAMED(Frame2),
                               CRV_NAMED(lblDistFrame2),
                               CRV_NAMED(txtHDistanceAll),
                               CRV_NAMED(lblHintFrame2),
                               CRV_NAMED(chkHDistanceFieldAll),
                               CRV_NAMED(cmdHFieldAll),
                               CRV_NAMED(lblMapHintFrame2),
                               CRV_NAMED(Frame3),
                               CRV_NAMED(lblDistFrame3),
                               CRV_NAMED(txtVDistanceAll),
                               CRV_NAMED(lblHintFrame3),
                               CRV_NAMED(chkVDistanceFieldAll),
                               CRV_NAMED(cmdVFieldAll),
                               CRV_NAMED(lblMapHintFrame3),
                               CRV_NAMED(cmdGetCurrentXYPrimary),
                               CRV_NAMED(lblAnchorTheAlt),
                               CRV_NAMED(cmbAnchorFromAlt),
                               CRV_NAMED(lblOfThisElementAlt),
                               CRV_NAMED(lblToTheAlt),
                               CRV_NAMED(cmbAnchorToAlt),
                               CRV_NAMED(lblPageSelectedAlt),
                               CRV_NAMED(Frame4),
                               CRV_NAMED(lblDistFrame4),
                               CRV_NAMED(txtHDistanceAlt),
                               CRV_NAMED(lblHintFrame4),
                               CRV_NAMED(chkHDistanceFieldAlt),
                               CRV_NAMED(cmdHFieldAlt),
                               CRV_NAMED(lblMapHintFrame4),
                               CRV_NAMED(Frame5),
                               CRV_NAMED(lblDistFrame5),
                               CRV_NAMED(txtVDistanceAlt),
                               CRV_NAMED(lblHintFrame5),
                               CRV_NAMED(chkVDistanceFieldAlt),
                               CRV_NAMED(cmdVFieldAlt),
                               CRV_NAMED(lblMapHintFrame5),
                               CRV_NAMED(lblHorizontalOpposite),
                               CRV_NAMED(cmdMakeHorizontalOpposite),
                               CRV_NAMED(cmdGetCurrentXYAlternate),
                               CRV_NAMED(lblAnchorPriority),
                               CRV_NAMED(cmbAnchorPriority),
                               CRV_NAMED(lblPriorityExplanation)};

#undef CRV_NAMED

int IdOf(std::string_view name) {
    for (const auto& [n, id] : kNames) {
        if (n == name) return id;
    }
    return 0;
}

constexpr std::array<int, 4> kPages = {IDD_TAB_ANCHOREDTO, IDD_TAB_PRIMARYANCHOR, IDD_TAB_ALTERNATEANCHOR,
                                       IDD_TAB_OPTIONS};

class Win32FormWindow final : public FormWindow {
public:
    Win32FormWindow() {
        const INITCOMMONCONTROLSEX classes{sizeof(INITCOMMONCONTROLSEX), ICC_TAB_CLASSES | ICC_STANDARD_CLASSES};
        InitCommonControlsEx(&classes);
        const HINSTANCE module = ThisModule();
        // The page is a child window; until a sheet takes it in, it waits in a hidden window.
        parking_ = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, module, nullptr);
        form_ = Dialog(IDD_ANCHORPAGE, parking_);
        std::vector<HWND> pages;
        for (int page : kPages) pages.push_back(Dialog(page, form_));
        auto find = [&](int id) {
            for (HWND page : pages) {
                if (HWND control = GetDlgItem(page, id)) return control;
            }
            return GetDlgItem(form_, id);
        };

        FormControls& c = controls_;
        tabs_ = Own<Win32TabStrip>(GetDlgItem(form_, IDC_sstabAnchorProperties), pages);
        c.sstabAnchorProperties = tabs_;
        c.chkAnchor = Own<Win32CheckBox>(find(IDC_chkAnchor));
        c.OptAnchorTo = Options(groups_[0], find, {IDC_OptAnchorTo_0, IDC_OptAnchorTo_1});
        c.lstElementNames = Own<Win32ListBox>(find(IDC_lstElementNames));
        c.optMultiPage = Options(groups_[1], find, {IDC_optMultiPage_0, IDC_optMultiPage_1});
        c.cmbAlternateType = Own<Win32DropDownList>(find(IDC_cmbAlternateType));
        c.txtPageRange = Own<Win32TextBox>(find(IDC_txtPageRange));
        c.cmbAnchorFromAll = Own<Win32DropDownList>(find(IDC_cmbAnchorFromAll));
        c.cmbAnchorToAll = Own<Win32DropDownList>(find(IDC_cmbAnchorToAll));
        c.txtHDistanceAll = Own<Win32TextBox>(find(IDC_txtHDistanceAll));
        c.chkHDistanceFieldAll = Own<Win32CheckBox>(find(IDC_chkHDistanceFieldAll));
        c.cmdHFieldAll = Own<Win32DropDownList>(find(IDC_cmdHFieldAll));
        c.txtVDistanceAll = Own<Win32TextBox>(find(IDC_txtVDistanceAll));
        c.chkVDistanceFieldAll = Own<Win32CheckBox>(find(IDC_chkVDistanceFieldAll));
        c.cmdVFieldAll = Own<Win32DropDownList>(find(IDC_cmdVFieldAll));
        c.cmdGetCurrentXYPrimary = Own<Win32CommandButton>(find(IDC_cmdGetCurrentXYPrimary));
        c.cmbAnchorFromAlt = Own<Win32DropDownList>(find(IDC_cmbAnchorFromAlt));
        c.cmbAnchorToAlt = Own<Win32DropDownList>(find(IDC_cmbAnchorToAlt));
        c.txtHDistanceAlt = Own<Win32TextBox>(find(IDC_txtHDistanceAlt));
        c.chkHDistanceFieldAlt = Own<Win32CheckBox>(find(IDC_chkHDistanceFieldAlt));
        c.cmdHFieldAlt = Own<Win32DropDownList>(find(IDC_cmdHFieldAlt));
        c.txtVDistanceAlt = Own<Win32TextBox>(find(IDC_txtVDistanceAlt));
        c.chkVDistanceFieldAlt = Own<Win32CheckBox>(find(IDC_chkVDistanceFieldAlt));
        c.cmdVFieldAlt = Own<Win32DropDownList>(find(IDC_cmdVFieldAlt));
        c.cmdMakeHorizontalOpposite = Own<Win32CommandButton>(find(IDC_cmdMakeHorizontalOpposite));
        c.cmdGetCurrentXYAlternate = Own<Win32CommandButton>(find(IDC_cmdGetCurrentXYAlternate));
        c.cmbAnchorPriority = Own<Win32DropDownList>(find(IDC_cmbAnchorPriority));

        AddTips(pages, {IDC_cmdGetCurrentXYPrimary, IDC_cmdGetCurrentXYAlternate});
    }

    // A sheet that has taken the page in may have destroyed it with itself already.
    ~Win32FormWindow() override {
        if (IsWindow(form_)) DestroyWindow(form_);
        DestroyWindow(parking_);
    }

    const FormControls& Controls() const override { return controls_; }
    NativeWindow Window() const override { return form_; }
    intptr_t Handle() const override { return reinterpret_cast<intptr_t>(form_); }
    void Show() override { ShowWindow(form_, SW_SHOWNA); }
    void Hide() override { ShowWindow(form_, SW_HIDE); }
    int Width() const override { return Size().cx; }
    int Height() const override { return Size().cy; }

    void HugTabs(double rightTwips, double belowTwips) override {
        const HDC screen = GetDC(nullptr);
        const int right = static_cast<int>(rightTwips * GetDeviceCaps(screen, LOGPIXELSX) / 1440.0 + 0.5);
        const int below = static_cast<int>(belowTwips * GetDeviceCaps(screen, LOGPIXELSY) / 1440.0 + 0.5);
        ReleaseDC(nullptr, screen);
        RECT tab{};
        GetWindowRect(GetDlgItem(form_, IDC_sstabAnchorProperties), &tab);
        MapWindowPoints(HWND_DESKTOP, form_, reinterpret_cast<POINT*>(&tab), 2);
        SetWindowPos(form_, nullptr, 0, 0, tab.right + right, tab.bottom + below,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }

private:
    static INT_PTR CALLBACK Procedure(HWND dialog, UINT message, WPARAM w, LPARAM l) {
        if (message == WM_INITDIALOG) {
            SetWindowLongPtrW(dialog, DWLP_USER, l);
            return FALSE;  // the page takes the focus only when the user gives it
        }
        auto* self = reinterpret_cast<Win32FormWindow*>(GetWindowLongPtrW(dialog, DWLP_USER));
        if (self == nullptr) return FALSE;
        switch (message) {
            case WM_COMMAND: return self->Notification(reinterpret_cast<HWND>(l), HIWORD(w));
            case WM_NOTIFY: {
                const auto* header = reinterpret_cast<const NMHDR*>(l);
                return self->Notification(header->hwndFrom, header->code);
            }
            case WM_DRAWITEM: {
                const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(l);
                if (item->CtlType != ODT_TAB) return FALSE;
                self->tabs_->Draw(*item);
                return TRUE;
            }
            default: return FALSE;
        }
    }

    INT_PTR Notification(HWND control, UINT code) {
        const auto target = targets_.find(control);
        if (target == targets_.end()) return FALSE;
        target->second->Notification(code);
        return TRUE;
    }

    HWND Dialog(int id, HWND parent) {
        return CreateDialogParamW(ThisModule(), MAKEINTRESOURCEW(id), parent, &Procedure,
                                  reinterpret_cast<LPARAM>(this));
    }

    template <class Control, class... Args>
    Control* Own(HWND window, Args&&... args) {
        auto control = std::make_unique<Control>(window, std::forward<Args>(args)...);
        Control* raw = control.get();
        targets_[window] = raw;
        owned_.push_back(std::move(control));
        return raw;
    }

    template <class Find>
    OptionArray Options(std::vector<Win32OptionButton*>& group, Find find, std::initializer_list<int> ids) {
        for (int id : ids) group.push_back(Own<Win32OptionButton>(find(id), group));
        return OptionArray(std::vector<OptionButton*>(group.begin(), group.end()));
    }

    // The buttons' tips, from the string table under the button's id.
    void AddTips(const std::vector<HWND>& pages, std::initializer_list<int> ids) {
        const HWND tips =
            CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT, CW_USEDEFAULT,
                            CW_USEDEFAULT, CW_USEDEFAULT, form_, nullptr, ThisModule(), nullptr);
        for (HWND page : pages) {
            for (int id : ids) {
                const HWND button = GetDlgItem(page, id);
                if (button == nullptr) continue;
                TTTOOLINFOW tool{};
                tool.cbSize = sizeof tool;
                tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
                tool.hwnd = page;
                tool.uId = reinterpret_cast<UINT_PTR>(button);
                tool.hinst = ThisModule();
                tool.lpszText = MAKEINTRESOURCEW(id);
                SendMessageW(tips, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
            }
        }
    }

    SIZE Size() const {
        RECT r{};
        GetWindowRect(form_, &r);
        return {r.right - r.left, r.bottom - r.top};
    }

    HWND parking_ = nullptr;
    HWND form_ = nullptr;
    std::vector<std::unique_ptr<NotificationTarget>> owned_;
    std::unordered_map<HWND, NotificationTarget*> targets_;
    std::array<std::vector<Win32OptionButton*>, 2> groups_;
    Win32TabStrip* tabs_ = nullptr;
    FormControls controls_;
};

}  // namespace

std::unique_ptr<FormWindow> NewFormWindow() { return std::make_unique<Win32FormWindow>(); }

// Any Windows process can make windows.
bool WindowsCanBeMade() { return true; }

HWND FindControl(HWND form, std::string_view name) {
    const int id = IdOf(name);
    if (id == 0) return nullptr;
    if (HWND control = GetDlgItem(form, id)) return control;
    for (HWND child = GetWindow(form, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        if (HWND control = GetDlgItem(child, id)) return control;
    }
    return nullptr;
}

}  // namespace crv::controls
