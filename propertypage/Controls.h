#pragma once
// The form's controls as the form's logic expects them, over Qt's widgets: lists with an
// index that is -1 when nothing is chosen and that refuses an index past the end, check
// boxes with the values 0, 1 and 2, option-button arrays, text boxes whose change event
// fires on every edit, and twips.

#include "errors/ComError.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QString>
#include <QWidget>

#include <string>
#include <utility>
#include <vector>

namespace crv::controls {

inline constexpr int32_t kInvalidPropertyValue = 380;

[[noreturn]] inline void InvalidPropertyValue() { Raise(kInvalidPropertyValue, "CRVAnchor", "Invalid property value"); }

inline QString Q(const std::string& s) { return QString::fromStdString(s); }
inline std::string S(const QString& s) { return s.toStdString(); }

// 1440 twips to the inch, at the screen's logical resolution.
inline int TwipsToPixelsX(const QWidget& w, double twips) {
    return static_cast<int>(twips * w.logicalDpiX() / 1440.0 + 0.5);
}
inline int TwipsToPixelsY(const QWidget& w, double twips) {
    return static_cast<int>(twips * w.logicalDpiY() / 1440.0 + 0.5);
}

// A drop-down list that accepts only its own entries. Adding entries never chooses one, and
// clearing raises no click, as the form's logic expects of a list.
class DropDownList {
public:
    explicit DropDownList(QComboBox* box) : box_(box) {}

    int ListCount() const { return box_->count(); }
    int ListIndex() const { return box_->currentIndex(); }
    // -1 clears the choice; an index past the end is refused.
    void SetListIndex(int index) {
        if (index < -1 || index >= box_->count()) InvalidPropertyValue();
        box_->setCurrentIndex(index);
    }
    // The chosen entry's text, empty when nothing is chosen.
    std::string Text() const { return box_->currentIndex() < 0 ? std::string() : S(box_->currentText()); }
    std::string List(int index) const { return S(box_->itemText(index)); }
    void AddItem(const std::string& text) {
        const int before = box_->currentIndex();
        const QSignalBlocker quiet(box_);
        box_->addItem(Q(text));
        box_->setCurrentIndex(before);
    }
    void Clear() {
        const QSignalBlocker quiet(box_);
        box_->clear();
    }
    void SetEnabled(bool on) { box_->setEnabled(on); }
    QComboBox* widget() const { return box_; }

private:
    QComboBox* box_;
};

// A list box with one chosen entry at most. The choice is the selection, not Qt's current
// item, which moves on focus alone.
class ListBox {
public:
    explicit ListBox(QListWidget* list) : list_(list) {}

    int ListCount() const { return list_->count(); }
    int ListIndex() const {
        const QList<QListWidgetItem*> chosen = list_->selectedItems();
        return chosen.isEmpty() ? -1 : list_->row(chosen.front());
    }
    void SetListIndex(int index) {
        if (index < -1 || index >= list_->count()) InvalidPropertyValue();
        if (index == -1) {
            list_->clearSelection();
        } else {
            list_->setCurrentRow(index, QItemSelectionModel::ClearAndSelect);
        }
    }
    std::string Text() const {
        const QList<QListWidgetItem*> chosen = list_->selectedItems();
        return chosen.isEmpty() ? std::string() : S(chosen.front()->text());
    }
    std::string List(int index) const { return S(list_->item(index)->text()); }
    void AddItem(const std::string& text) { list_->addItem(Q(text)); }
    void Clear() {
        const QSignalBlocker quiet(list_);
        list_->clear();
    }
    void SetEnabled(bool on) { list_->setEnabled(on); }
    QListWidget* widget() const { return list_; }

private:
    QListWidget* list_;
};

// 0 unchecked, 1 checked, 2 greyed.
class CheckBox {
public:
    explicit CheckBox(QCheckBox* box) : box_(box) {}

    int Value() const {
        switch (box_->checkState()) {
            case Qt::Unchecked: return 0;
            case Qt::Checked: return 1;
            case Qt::PartiallyChecked: return 2;
        }
        return 0;
    }
    void SetValue(int value) {
        if (value < 0 || value > 2) InvalidPropertyValue();
        if (value == 2) box_->setTristate(true);
        box_->setCheckState(value == 0 ? Qt::Unchecked : value == 1 ? Qt::Checked : Qt::PartiallyChecked);
    }
    void SetEnabled(bool on) { box_->setEnabled(on); }
    QCheckBox* widget() const { return box_; }

private:
    QCheckBox* box_;
};

// Option buttons sharing one name and told apart by index. At most one is on; code may also
// turn all of them off.
class OptionArray {
public:
    OptionArray() = default;
    explicit OptionArray(std::vector<QRadioButton*> buttons) : buttons_(std::move(buttons)) {}

    bool Value(size_t index) const { return At(index)->isChecked(); }
    void SetValue(size_t index, bool on) {
        QRadioButton* b = At(index);
        if (on) {
            b->setChecked(true);
            return;
        }
        // An exclusive button cannot be turned off directly.
        b->setAutoExclusive(false);
        b->setChecked(false);
        b->setAutoExclusive(true);
    }
    void SetEnabled(size_t index, bool on) { At(index)->setEnabled(on); }
    size_t Count() const { return buttons_.size(); }
    QRadioButton* At(size_t index) const {
        if (index >= buttons_.size())
            Raise(vberr::kSubscriptOutOfRange, "CRVAnchor", "Control array element does not exist");
        return buttons_[index];
    }

private:
    std::vector<QRadioButton*> buttons_;
};

class TextBox {
public:
    explicit TextBox(QLineEdit* edit) : edit_(edit) {}

    std::string Text() const { return S(edit_->text()); }
    void SetText(const std::string& text) { edit_->setText(Q(text)); }
    void SetEnabled(bool on) { edit_->setEnabled(on); }
    QLineEdit* widget() const { return edit_; }

private:
    QLineEdit* edit_;
};

}  // namespace crv::controls
