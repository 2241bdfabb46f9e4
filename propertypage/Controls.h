#pragma once
// The form's controls as the form's logic expects them, whatever toolkit draws them: lists
// with an index that is -1 when nothing is chosen and that refuses an index past the end,
// check boxes with the values 0, 1 and 2, option-button arrays, text boxes whose change event
// fires on every edit, and sizes in twips.
//
// A toolkit backend (QtControls for Qt's widgets, Win32Controls for Windows' own controls)
// makes the window and its controls and reports the user's edits through Notify. What code
// does to a control goes through the members here, which keep the rules above in one place:
// the backend's primitives change a control quietly, and a change made by code raises the
// control's event here exactly when it changed the control, as an edit by the user would.

#include "errors/ComError.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#if defined(_WIN32)
struct HWND__;
#else
class QWidget;
#endif

namespace crv::controls {

inline constexpr int32_t kInvalidPropertyValue = 380;

[[noreturn]] inline void InvalidPropertyValue() { Raise(kInvalidPropertyValue, "CRVAnchor", "Invalid property value"); }

// The window a host embeds, in its toolkit's own type.
#if defined(_WIN32)
using NativeWindow = HWND__*;
#else
using NativeWindow = QWidget*;
#endif

// Text compared without regard to case by the toolkit's rules, which fold more than ASCII.
bool SameTextIgnoringCase(const std::string& a, const std::string& b);
bool ContainsIgnoringCase(const std::string& text, const std::string& part);

// What every control has: a state of enabled and visible, and the event the form listens to.
class Control {
public:
    Control() = default;
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;
    virtual ~Control() = default;

    virtual bool Enabled() const = 0;
    virtual void SetEnabled(bool on) = 0;
    virtual bool Visible() const = 0;
    virtual void SetVisible(bool on) = 0;

    // The form's handler: a click, a choice, a change of state or any edit of the text.
    std::function<void()> Changed;
    // The backend's report of the user's edit, and the members' report of one by code.
    void Notify() const {
        if (Changed) Changed();
    }
};

// A list of entries with one chosen at most. Adding entries never chooses one, and clearing
// raises no event.
class ListControl : public Control {
public:
    int ListCount() const { return Count(); }
    int ListIndex() const { return Chosen(); }
    // -1 clears the choice; an index past the end is refused.
    void SetListIndex(int index) {
        if (index < -1 || index >= Count()) InvalidPropertyValue();
        if (index == Chosen()) return;
        Choose(index);
        Notify();
    }
    // The chosen entry's text, empty when nothing is chosen.
    std::string Text() const {
        const int index = Chosen();
        return index < 0 ? std::string() : Entry(index);
    }
    std::string List(int index) const { return Entry(index); }
    void AddItem(const std::string& text) { Append(text); }
    void Clear() { RemoveAll(); }
    // The first entry with exactly this text, -1 when there is none.
    int FindExact(const std::string& text) const {
        for (int i = 0; i < Count(); ++i) {
            if (Entry(i) == text) return i;
        }
        return -1;
    }

protected:
    virtual int Count() const = 0;
    virtual int Chosen() const = 0;
    virtual std::string Entry(int index) const = 0;
    // These change the list quietly; Append keeps the choice as it was.
    virtual void Choose(int index) = 0;
    virtual void Append(const std::string& text) = 0;
    virtual void RemoveAll() = 0;
};

// A drop-down list that accepts only its own entries.
class DropDownList : public ListControl {};

class ListBox : public ListControl {};

// 0 unchecked, 1 checked, 2 greyed.
class CheckBox : public Control {
public:
    int Value() const { return State(); }
    void SetValue(int value) {
        if (value < 0 || value > 2) InvalidPropertyValue();
        if (value == State()) return;
        SetState(value);
        Notify();
    }

protected:
    virtual int State() const = 0;
    virtual void SetState(int value) = 0;
};

// One of the option buttons of an array; its event is raised when it is turned on.
class OptionButton : public Control {
public:
    bool Value() const { return On(); }
    void SetValue(bool on) {
        if (on == On()) return;
        SetOn(on);
        if (on) Notify();
    }

protected:
    virtual bool On() const = 0;
    // Turning one on turns the others of its array off; turning one off leaves them.
    virtual void SetOn(bool on) = 0;
};

// Option buttons sharing one name and told apart by index. At most one is on; code may also
// turn all of them off.
class OptionArray {
public:
    OptionArray() = default;
    explicit OptionArray(std::vector<OptionButton*> buttons) : buttons_(std::move(buttons)) {}

    bool Value(size_t index) const { return At(index)->Value(); }
    // The buttons change, not the array: a const array still sets them.
    void SetValue(size_t index, bool on) const { At(index)->SetValue(on); }
    void SetEnabled(size_t index, bool on) const { At(index)->SetEnabled(on); }
    size_t Count() const { return buttons_.size(); }
    OptionButton* At(size_t index) const {
        if (index >= buttons_.size())
            Raise(vberr::kSubscriptOutOfRange, "CRVAnchor", "Control array element does not exist");
        return buttons_[index];
    }

private:
    std::vector<OptionButton*> buttons_;
};

class TextBox : public Control {
public:
    std::string Text() const { return Content(); }
    void SetText(const std::string& text) {
        if (text == Content()) return;
        SetContent(text);
        Notify();
    }

protected:
    virtual std::string Content() const = 0;
    virtual void SetContent(const std::string& text) = 0;
};

// A push button: only its click.
class CommandButton : public Control {};

// Tabs that show one page of controls at a time.
class TabStrip : public Control {
public:
    virtual int TabCount() const = 0;
    virtual int CurrentTab() const = 0;
    virtual void SetCurrentTab(int index) = 0;
    virtual bool TabEnabled(int index) const = 0;
    virtual void SetTabEnabled(int index, bool on) = 0;
};

// The anchor form's controls by their names in the form, made and owned by the backend.
struct FormControls {
    TabStrip* sstabAnchorProperties = nullptr;
    // Anchored To
    CheckBox* chkAnchor = nullptr;
    OptionArray OptAnchorTo;
    ListBox* lstElementNames = nullptr;
    OptionArray optMultiPage;
    DropDownList* cmbAlternateType = nullptr;
    TextBox* txtPageRange = nullptr;
    // Primary Anchor
    DropDownList* cmbAnchorFromAll = nullptr;
    DropDownList* cmbAnchorToAll = nullptr;
    TextBox* txtHDistanceAll = nullptr;
    CheckBox* chkHDistanceFieldAll = nullptr;
    DropDownList* cmdHFieldAll = nullptr;
    TextBox* txtVDistanceAll = nullptr;
    CheckBox* chkVDistanceFieldAll = nullptr;
    DropDownList* cmdVFieldAll = nullptr;
    CommandButton* cmdGetCurrentXYPrimary = nullptr;
    // Alternate Anchor
    DropDownList* cmbAnchorFromAlt = nullptr;
    DropDownList* cmbAnchorToAlt = nullptr;
    TextBox* txtHDistanceAlt = nullptr;
    CheckBox* chkHDistanceFieldAlt = nullptr;
    DropDownList* cmdHFieldAlt = nullptr;
    TextBox* txtVDistanceAlt = nullptr;
    CheckBox* chkVDistanceFieldAlt = nullptr;
    DropDownList* cmdVFieldAlt = nullptr;
    CommandButton* cmdMakeHorizontalOpposite = nullptr;
    CommandButton* cmdGetCurrentXYAlternate = nullptr;
    // Options
    DropDownList* cmbAnchorPriority = nullptr;
};

// The form's window with its controls, made hidden.
class FormWindow {
public:
    virtual ~FormWindow() = default;

    virtual const FormControls& Controls() const = 0;
    virtual NativeWindow Window() const = 0;
    // The handle a host's sheet embeds.
    virtual intptr_t Handle() const = 0;
    virtual void Show() = 0;
    virtual void Hide() = 0;
    // The window's size in pixels.
    virtual int Width() const = 0;
    virtual int Height() const = 0;
    // Sizes the window to hold its tab strip with these margins to its right and below.
    virtual void HugTabs(double rightTwips, double belowTwips) = 0;
};

// Made by the backend linked in.
std::unique_ptr<FormWindow> NewFormWindow();
// Whether this process can make windows at all; where it cannot, making one would abort.
bool WindowsCanBeMade();

}  // namespace crv::controls
