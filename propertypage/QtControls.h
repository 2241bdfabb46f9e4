#pragma once
// The form's controls over Qt's widgets. A widget's signal reports the user's edits; what
// code changes, it changes with the widget's signals blocked, since Controls.h raises the
// event itself.

#include "propertypage/Controls.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QObject>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QString>
#include <QTabWidget>
#include <QWidget>

#include <string>

namespace crv::controls {

inline QString Q(const std::string& s) { return QString::fromStdString(s); }
inline std::string S(const QString& s) { return s.toStdString(); }

// What every control does with its widget: its own enabled and visible flags (not those it
// inherits from the window), and its signal turned into the control's event.
template <class Interface, class Widget>
class QtControl : public Interface {
public:
    explicit QtControl(Widget* widget) : widget_(widget) {}
    ~QtControl() override { QObject::disconnect(connection_); }

    bool Enabled() const override { return !widget_->testAttribute(Qt::WA_ForceDisabled); }
    void SetEnabled(bool on) override { widget_->setEnabled(on); }
    bool Visible() const override { return !widget_->isHidden(); }
    void SetVisible(bool on) override { widget_->setVisible(on); }
    Widget* widget() const { return widget_; }

protected:
    template <class Signal>
    void Listen(Signal signal) {
        connection_ = QObject::connect(widget_, signal, [this] { this->Notify(); });
    }

    Widget* widget_;
    QMetaObject::Connection connection_;
};

// What a combo box and a list widget do alike.
template <class Interface, class Widget>
class QtList : public QtControl<Interface, Widget> {
public:
    using QtControl<Interface, Widget>::QtControl;

protected:
    using QtControl<Interface, Widget>::widget_;
    int Count() const override { return widget_->count(); }
    void RemoveAll() override {
        const QSignalBlocker quiet(widget_);
        widget_->clear();
    }
};

class QtDropDownList final : public QtList<DropDownList, QComboBox> {
public:
    explicit QtDropDownList(QComboBox* box) : QtList(box) { Listen(qOverload<int>(&QComboBox::currentIndexChanged)); }

protected:
    int Chosen() const override { return widget_->currentIndex(); }
    std::string Entry(int index) const override { return S(widget_->itemText(index)); }
    void Choose(int index) override {
        const QSignalBlocker quiet(widget_);
        widget_->setCurrentIndex(index);
    }
    // A combo box chooses the first entry added to it; the list does not.
    void Append(const std::string& text) override {
        const int before = widget_->currentIndex();
        const QSignalBlocker quiet(widget_);
        widget_->addItem(Q(text));
        widget_->setCurrentIndex(before);
    }
};

// The choice is the selection, not Qt's current item, which moves on focus alone.
class QtListBox final : public QtList<ListBox, QListWidget> {
public:
    explicit QtListBox(QListWidget* list) : QtList(list) { Listen(&QListWidget::itemSelectionChanged); }

protected:
    int Chosen() const override {
        const QList<QListWidgetItem*> chosen = widget_->selectedItems();
        return chosen.isEmpty() ? -1 : widget_->row(chosen.front());
    }
    std::string Entry(int index) const override { return S(widget_->item(index)->text()); }
    void Choose(int index) override {
        const QSignalBlocker quiet(widget_);
        if (index == -1) {
            widget_->clearSelection();
        } else {
            widget_->setCurrentRow(index, QItemSelectionModel::ClearAndSelect);
        }
    }
    void Append(const std::string& text) override { widget_->addItem(Q(text)); }
};

class QtCheckBox final : public QtControl<CheckBox, QCheckBox> {
public:
    explicit QtCheckBox(QCheckBox* box) : QtControl(box) { Listen(&QCheckBox::stateChanged); }

protected:
    int State() const override {
        switch (widget_->checkState()) {
            case Qt::Unchecked: return 0;
            case Qt::Checked: return 1;
            case Qt::PartiallyChecked: return 2;
        }
        return 0;
    }
    void SetState(int value) override {
        const QSignalBlocker quiet(widget_);
        if (value == 2) widget_->setTristate(true);
        widget_->setCheckState(value == 0 ? Qt::Unchecked : value == 1 ? Qt::Checked : Qt::PartiallyChecked);
    }
};

// Qt's exclusive buttons turn the others of their parent off when one is turned on.
class QtOptionButton final : public QtControl<OptionButton, QRadioButton> {
public:
    // Only the button turned on raises its event.
    explicit QtOptionButton(QRadioButton* button) : QtControl(button) {
        connection_ = QObject::connect(button, &QRadioButton::toggled, [this](bool on) {
            if (on) Notify();
        });
    }

protected:
    bool On() const override { return widget_->isChecked(); }
    void SetOn(bool on) override {
        const QSignalBlocker quiet(widget_);
        if (on) {
            widget_->setChecked(true);
            return;
        }
        // An exclusive button cannot be turned off directly.
        widget_->setAutoExclusive(false);
        widget_->setChecked(false);
        widget_->setAutoExclusive(true);
    }
};

class QtTextBox final : public QtControl<TextBox, QLineEdit> {
public:
    explicit QtTextBox(QLineEdit* edit) : QtControl(edit) { Listen(&QLineEdit::textChanged); }

protected:
    std::string Content() const override { return S(widget_->text()); }
    void SetContent(const std::string& text) override {
        const QSignalBlocker quiet(widget_);
        widget_->setText(Q(text));
    }
};

class QtCommandButton final : public QtControl<CommandButton, QPushButton> {
public:
    explicit QtCommandButton(QPushButton* button) : QtControl(button) { Listen(&QPushButton::clicked); }
};

class QtTabStrip final : public QtControl<TabStrip, QTabWidget> {
public:
    explicit QtTabStrip(QTabWidget* tabs) : QtControl(tabs) { Listen(&QTabWidget::currentChanged); }

    int TabCount() const override { return widget_->count(); }
    int CurrentTab() const override { return widget_->currentIndex(); }
    void SetCurrentTab(int index) override { widget_->setCurrentIndex(index); }
    bool TabEnabled(int index) const override { return widget_->isTabEnabled(index); }
    void SetTabEnabled(int index, bool on) override { widget_->setTabEnabled(index, on); }
};

// 1440 twips to the inch, at the screen's logical resolution.
inline int TwipsToPixelsX(const QWidget& w, double twips) {
    return static_cast<int>(twips * w.logicalDpiX() / 1440.0 + 0.5);
}
inline int TwipsToPixelsY(const QWidget& w, double twips) {
    return static_cast<int>(twips * w.logicalDpiY() / 1440.0 + 0.5);
}

}  // namespace crv::controls
