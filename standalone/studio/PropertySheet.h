#pragma once
// The host's property sheet for selected layout elements: its own general page (name and
// position) beside every page registered in the element-property-page category that applies
// to the selection, hosted through the page protocol.

#include "host/PropertyPage.h"
#include "standalone/host/StandaloneHost.h"

#include <QDialog>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QDialogButtonBox;
class QDoubleSpinBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;

namespace crv::studio {

// The category of element property pages, as the host publishes it.
Guid ElementPropertyPagesCategory();

// What the sheet tells the page: its contents changed.
class SheetSite final : public ComObject<PropertyPageSite> {
public:
    explicit SheetSite(std::function<void()> changed) : changed_(std::move(changed)) {}
    void PageChanged() override {
        if (changed_) changed_();
    }
    void Detach() { changed_ = nullptr; }

private:
    std::function<void()> changed_;
};

class PropertySheet : public QDialog {
    Q_OBJECT
public:
    // element: the element the general page shows (the last one selected).
    PropertySheet(const ComPtr<ObjectSet>& selection, const ComPtr<LayoutElement>& element, QWidget* parent = nullptr);
    ~PropertySheet() override;

    // The titles of the tabs, the host's own first.
    std::vector<std::string> Titles() const;
    QTabWidget* Tabs() const { return tabs_; }
    QPushButton* ApplyButton() const;
    QPushButton* OkButton() const;
    QPushButton* CancelButton() const;
    // Why a registered page could not be offered, one line each (shown to the user too).
    const std::vector<std::string>& Problems() const { return problems_; }
    // Called after every Apply, so the host can redraw.
    std::function<void()> applied;

    void ShowTab(int index);

    // A note the host shows above the component's pages (not on its own general page), such as
    // why the book leaves the element where it stands; "" for none.
    void SetNote(const std::string& text);
    QLabel* Note() const { return note_; }

private:
    struct Page {
        ComPtr<IComPropertyPage> page;
        ComPtr<SheetSite> site;
        QWidget* frame = nullptr;
    };

    void LoadPages(const ComPtr<ObjectSet>& selection);
    void PageChanged();
    void ApplyAll();
    void CancelAll();
    void Close();
    void ApplyGeneral();

    ComPtr<LayoutElement> element_;
    QTabWidget* tabs_ = nullptr;
    QLabel* note_ = nullptr;
    QDialogButtonBox* buttons_ = nullptr;
    QLineEdit* name_ = nullptr;
    QDoubleSpinBox* x_ = nullptr;
    QDoubleSpinBox* y_ = nullptr;
    bool general_dirty_ = false;
    std::vector<Page> pages_;
    std::vector<std::string> problems_;
    int shown_ = -1;
    bool closed_ = false;
};

}  // namespace crv::studio
