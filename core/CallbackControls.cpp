#include "core/CallbackControls.h"

#include "propertypage/FormState.h"

#include <array>
#include <memory>
#include <utility>
#include <vector>

namespace crv::controls {

namespace {

thread_local crv_form_callbacks t_next{};

[[noreturn]] void Refuse(const std::string& message) { Raise(kInvalidPropertyValue, "CRVAnchor", message); }

// A control's id, the one the form's table of controls gives it (NamedControls).
class Named {
public:
    virtual ~Named() = default;
    const char* id_ = "";
};

// What every control keeps: its id, its own enabled and visible flags, and the host to tell.
template <class Interface>
class HostControl : public Interface, public Named {
public:
    explicit HostControl(const crv_form_callbacks& host) : host_(host) {}

    bool Enabled() const override { return enabled_; }
    void SetEnabled(bool on) override {
        enabled_ = on;
        host_.set_enabled(host_.context, id_, -1, on ? 1 : 0);
    }
    bool Visible() const override { return visible_; }
    void SetVisible(bool on) override {
        visible_ = on;
        host_.set_visible(host_.context, id_, on ? 1 : 0);
    }

protected:
    const crv_form_callbacks& host_;

private:
    bool enabled_ = true;
    bool visible_ = true;
};

template <class Interface>
class HostList final : public HostControl<Interface> {
public:
    using HostControl<Interface>::HostControl;
    // The user's choice: kept, then raised when it changed.
    void Chose(int index) {
        if (index < -1 || index >= Count()) {
            Refuse(std::string(this->id_) + " has " + std::to_string(Count()) + " entries; " + std::to_string(index) +
                   " is not one of them (-1 chooses none)");
        }
        if (index == chosen_) return;
        chosen_ = index;
        this->Notify();
    }

protected:
    int Count() const override { return static_cast<int>(entries_.size()); }
    int Chosen() const override { return chosen_; }
    std::string Entry(int index) const override {
        return index >= 0 && index < Count() ? entries_[static_cast<size_t>(index)] : std::string();
    }
    void Choose(int index) override {
        chosen_ = index;
        this->host_.set_value(this->host_.context, this->id_, index);
    }
    void Append(const std::string& text) override {
        entries_.push_back(text);
        this->host_.add_entry(this->host_.context, this->id_, text.c_str());
    }
    void RemoveAll() override {
        entries_.clear();
        chosen_ = -1;
        this->host_.clear_list(this->host_.context, this->id_);
    }

private:
    std::vector<std::string> entries_;
    int chosen_ = -1;
};

class HostCheckBox final : public HostControl<CheckBox> {
public:
    using HostControl::HostControl;
    void Clicked(int value) {
        if (value < 0 || value > 2) Refuse(std::string(id_) + " takes 0 (clear), 1 (checked) or 2 (greyed), not " + std::to_string(value));
        if (value == state_) return;
        state_ = value;
        Notify();
    }

protected:
    int State() const override { return state_; }
    void SetState(int value) override {
        state_ = value;
        host_.set_value(host_.context, id_, value);
    }

private:
    int state_ = 0;
};

class HostOptionButton final : public HostControl<OptionButton> {
public:
    HostOptionButton(const crv_form_callbacks& host, std::vector<HostOptionButton*>& group)
        : HostControl(host), group_(group) {}
    // Turned on by the user; one that is on already raises nothing.
    void Clicked(int value) {
        if (value != 1) Refuse(std::string(id_) + " is turned on by the user (1), never off: turn another of its array on");
        if (on_) return;
        SetOn(true);
        Notify();
    }

protected:
    bool On() const override { return on_; }
    void SetOn(bool on) override {
        if (on) {
            for (HostOptionButton* other : group_) {
                if (other != this && other->on_) {
                    other->on_ = false;
                    host_.set_value(host_.context, other->id_, 0);
                }
            }
        }
        on_ = on;
        host_.set_value(host_.context, id_, on ? 1 : 0);
    }

private:
    std::vector<HostOptionButton*>& group_;
    bool on_ = false;
};

class HostTextBox final : public HostControl<TextBox> {
public:
    using HostControl::HostControl;
    void Typed(const std::string& text) {
        if (text == text_) return;
        text_ = text;
        Notify();
    }

protected:
    std::string Content() const override { return text_; }
    void SetContent(const std::string& text) override {
        text_ = text;
        host_.set_text(host_.context, id_, text.c_str());
    }

private:
    std::string text_;
};

class HostButton final : public HostControl<CommandButton> {
public:
    using HostControl::HostControl;
};

class HostTabStrip final : public HostControl<TabStrip> {
public:
    using HostControl::HostControl;
    int TabCount() const override { return static_cast<int>(enabled_.size()); }
    int CurrentTab() const override { return current_; }
    void SetCurrentTab(int index) override {
        current_ = index;
        host_.set_value(host_.context, id_, index);
    }
    bool TabEnabled(int index) const override { return enabled_.at(static_cast<size_t>(index)); }
    void SetTabEnabled(int index, bool on) override {
        enabled_.at(static_cast<size_t>(index)) = on;
        host_.set_enabled(host_.context, id_, index, on ? 1 : 0);
    }
    // The tab the user shows; a tab that is not enabled cannot be shown.
    void Shown(int index) {
        if (index < 0 || index >= TabCount() || !TabEnabled(index)) {
            Refuse(std::string(id_) + ": tab " + std::to_string(index) + " is not an enabled tab");
        }
        current_ = index;
    }

private:
    std::array<bool, 4> enabled_ = {true, true, true, true};
    int current_ = 0;
};

class HostFormWindow final : public CallbackFormWindow {
public:
    explicit HostFormWindow(const crv_form_callbacks& host) : host_(host) {
        FormControls& c = controls_;
        c.sstabAnchorProperties = Own<HostTabStrip>();
        c.chkAnchor = Own<HostCheckBox>();
        c.OptAnchorTo = OptionArray({Option(anchorTo_), Option(anchorTo_)});
        c.lstElementNames = Own<HostList<ListBox>>();
        c.optMultiPage = OptionArray({Option(multiPage_), Option(multiPage_)});
        c.cmbAlternateType = Own<HostList<DropDownList>>();
        c.txtPageRange = Own<HostTextBox>();
        c.cmbAnchorFromAll = Own<HostList<DropDownList>>();
        c.cmbAnchorToAll = Own<HostList<DropDownList>>();
        c.txtHDistanceAll = Own<HostTextBox>();
        c.chkHDistanceFieldAll = Own<HostCheckBox>();
        c.cmdHFieldAll = Own<HostList<DropDownList>>();
        c.txtVDistanceAll = Own<HostTextBox>();
        c.chkVDistanceFieldAll = Own<HostCheckBox>();
        c.cmdVFieldAll = Own<HostList<DropDownList>>();
        c.cmdGetCurrentXYPrimary = Own<HostButton>();
        c.cmbAnchorFromAlt = Own<HostList<DropDownList>>();
        c.cmbAnchorToAlt = Own<HostList<DropDownList>>();
        c.txtHDistanceAlt = Own<HostTextBox>();
        c.chkHDistanceFieldAlt = Own<HostCheckBox>();
        c.cmdHFieldAlt = Own<HostList<DropDownList>>();
        c.txtVDistanceAlt = Own<HostTextBox>();
        c.chkVDistanceFieldAlt = Own<HostCheckBox>();
        c.cmdVFieldAlt = Own<HostList<DropDownList>>();
        c.cmdMakeHorizontalOpposite = Own<HostButton>();
        c.cmdGetCurrentXYAlternate = Own<HostButton>();
        c.cmbAnchorPriority = Own<HostList<DropDownList>>();
        // Each control is told its id by the one table that names the form's controls.
        for (const NamedControl& n : NamedControls(controls_)) dynamic_cast<Named&>(*n.control).id_ = n.id;
    }

    const FormControls& Controls() const override { return controls_; }
    NativeWindow Window() const override { return nullptr; }
    intptr_t Handle() const override { return 0; }
    void Show() override {}
    void Hide() override {}
    int Width() const override { return 0; }
    int Height() const override { return 0; }
    // The host lays its own controls out.
    void HugTabs(double, double) override {}

    void UserText(const std::string& control, const std::string& text) override {
        const NamedControl n = Enabled(control);
        if (n.kind != ControlKind::Text) Refuse(control + " is a " + KindName(n.kind) + ", not a text box: it takes a value");
        static_cast<HostTextBox*>(n.control)->Typed(text);
    }

    void UserValue(const std::string& control, int32_t value) override {
        const NamedControl n = Enabled(control);
        switch (n.kind) {
            case ControlKind::Tabs: static_cast<HostTabStrip*>(n.control)->Shown(value); return;
            case ControlKind::Check: static_cast<HostCheckBox*>(n.control)->Clicked(value); return;
            case ControlKind::Option: static_cast<HostOptionButton*>(n.control)->Clicked(value); return;
            case ControlKind::List: static_cast<HostList<ListBox>*>(n.control)->Chose(value); return;
            case ControlKind::DropDown: static_cast<HostList<DropDownList>*>(n.control)->Chose(value); return;
            case ControlKind::Button: n.control->Notify(); return;
            case ControlKind::Text: Refuse(control + " is a text box: it takes text");
        }
    }

private:
    template <class T>
    T* Own() {
        auto control = std::make_unique<T>(host_);
        T* raw = control.get();
        owned_.push_back(std::move(control));
        return raw;
    }
    OptionButton* Option(std::vector<HostOptionButton*>& group) {
        auto button = std::make_unique<HostOptionButton>(host_, group);
        group.push_back(button.get());
        OptionButton* raw = button.get();
        owned_.push_back(std::move(button));
        return raw;
    }
    // The control of that id, which the user can edit.
    NamedControl Enabled(const std::string& control) const {
        for (const NamedControl& n : NamedControls(controls_)) {
            if (control != n.id) continue;
            if (!n.control->Enabled()) Refuse(control + " is not enabled: the user cannot edit it now");
            if (n.tab >= 0 && !controls_.sstabAnchorProperties->TabEnabled(n.tab)) {
                Refuse(control + " stands on a tab that is not enabled: the user cannot reach it now");
            }
            return n;
        }
        Refuse("the form has no control " + control);
    }

    const crv_form_callbacks host_;
    std::vector<std::unique_ptr<Control>> owned_;
    std::vector<HostOptionButton*> anchorTo_;
    std::vector<HostOptionButton*> multiPage_;
    FormControls controls_;
};

}  // namespace

void UseCallbacks(const crv_form_callbacks& callbacks) { t_next = callbacks; }

std::unique_ptr<FormWindow> NewFormWindow() { return std::make_unique<HostFormWindow>(t_next); }

// The host makes the controls; the core makes no window.
bool WindowsCanBeMade() { return true; }

}  // namespace crv::controls
