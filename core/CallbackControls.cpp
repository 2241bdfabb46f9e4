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

// What every control keeps: its id, its own enabled and visible flags, and the host to tell.
template <class Interface>
class HostControl : public Interface {
public:
    HostControl(const crv_form_callbacks& host, const char* id) : host_(host), id_(id) {}

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
    const char* id_;

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
    HostOptionButton(const crv_form_callbacks& host, const char* id, std::vector<HostOptionButton*>& group)
        : HostControl(host, id), group_(group) {}
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
        c.sstabAnchorProperties = Own<HostTabStrip>("sstabAnchorProperties");
        c.chkAnchor = Own<HostCheckBox>("chkAnchor");
        c.OptAnchorTo = OptionArray({Option("OptAnchorTo_0", anchorTo_), Option("OptAnchorTo_1", anchorTo_)});
        c.lstElementNames = Own<HostList<ListBox>>("lstElementNames");
        c.optMultiPage = OptionArray({Option("optMultiPage_0", multiPage_), Option("optMultiPage_1", multiPage_)});
        c.cmbAlternateType = Own<HostList<DropDownList>>("cmbAlternateType");
        c.txtPageRange = Own<HostTextBox>("txtPageRange");
        c.cmbAnchorFromAll = Own<HostList<DropDownList>>("cmbAnchorFromAll");
        c.cmbAnchorToAll = Own<HostList<DropDownList>>("cmbAnchorToAll");
        c.txtHDistanceAll = Own<HostTextBox>("txtHDistanceAll");
        c.chkHDistanceFieldAll = Own<HostCheckBox>("chkHDistanceFieldAll");
        c.cmdHFieldAll = Own<HostList<DropDownList>>("cmdHFieldAll");
        c.txtVDistanceAll = Own<HostTextBox>("txtVDistanceAll");
        c.chkVDistanceFieldAll = Own<HostCheckBox>("chkVDistanceFieldAll");
        c.cmdVFieldAll = Own<HostList<DropDownList>>("cmdVFieldAll");
        c.cmdGetCurrentXYPrimary = Own<HostButton>("cmdGetCurrentXYPrimary");
        c.cmbAnchorFromAlt = Own<HostList<DropDownList>>("cmbAnchorFromAlt");
        c.cmbAnchorToAlt = Own<HostList<DropDownList>>("cmbAnchorToAlt");
        c.txtHDistanceAlt = Own<HostTextBox>("txtHDistanceAlt");
        c.chkHDistanceFieldAlt = Own<HostCheckBox>("chkHDistanceFieldAlt");
        c.cmdHFieldAlt = Own<HostList<DropDownList>>("cmdHFieldAlt");
        c.txtVDistanceAlt = Own<HostTextBox>("txtVDistanceAlt");
        c.chkVDistanceFieldAlt = Own<HostCheckBox>("chkVDistanceFieldAlt");
        c.cmdVFieldAlt = Own<HostList<DropDownList>>("cmdVFieldAlt");
        c.cmdMakeHorizontalOpposite = Own<HostButton>("cmdMakeHorizontalOpposite");
        c.cmdGetCurrentXYAlternate = Own<HostButton>("cmdGetCurrentXYAlternate");
        c.cmbAnchorPriority = Own<HostList<DropDownList>>("cmbAnchorPriority");
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
    T* Own(const char* id) {
        auto control = std::make_unique<T>(host_, id);
        T* raw = control.get();
        owned_.push_back(std::move(control));
        return raw;
    }
    OptionButton* Option(const char* id, std::vector<HostOptionButton*>& group) {
        auto button = std::make_unique<HostOptionButton>(host_, id, group);
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
