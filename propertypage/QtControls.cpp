#include "propertypage/QtControls.h"

#include "ui_frmAnchorPropertyPage.h"

#include <QApplication>
#include <QLayout>

#include <vector>

namespace crv::controls {

namespace {

// The form of the Designer file, its controls wrapped as the form's logic expects them.
class QtFormWindow final : public FormWindow {
public:
    QtFormWindow() : window_(std::make_unique<QWidget>()) {
        ui_.setupUi(window_.get());
        FormControls& c = controls_;
        c.sstabAnchorProperties = Own<QtTabStrip>(ui_.sstabAnchorProperties);
        c.chkAnchor = Own<QtCheckBox>(ui_.chkAnchor);
        c.OptAnchorTo = OptionArray({Own<QtOptionButton>(ui_.OptAnchorTo_0), Own<QtOptionButton>(ui_.OptAnchorTo_1)});
        c.lstElementNames = Own<QtListBox>(ui_.lstElementNames);
        c.optMultiPage =
            OptionArray({Own<QtOptionButton>(ui_.optMultiPage_0), Own<QtOptionButton>(ui_.optMultiPage_1)});
        c.cmbAlternateType = Own<QtDropDownList>(ui_.cmbAlternateType);
        c.txtPageRange = Own<QtTextBox>(ui_.txtPageRange);
        c.cmbAnchorFromAll = Own<QtDropDownList>(ui_.cmbAnchorFromAll);
        c.cmbAnchorToAll = Own<QtDropDownList>(ui_.cmbAnchorToAll);
        c.txtHDistanceAll = Own<QtTextBox>(ui_.txtHDistanceAll);
        c.chkHDistanceFieldAll = Own<QtCheckBox>(ui_.chkHDistanceFieldAll);
        c.cmdHFieldAll = Own<QtDropDownList>(ui_.cmdHFieldAll);
        c.txtVDistanceAll = Own<QtTextBox>(ui_.txtVDistanceAll);
        c.chkVDistanceFieldAll = Own<QtCheckBox>(ui_.chkVDistanceFieldAll);
        c.cmdVFieldAll = Own<QtDropDownList>(ui_.cmdVFieldAll);
        c.cmdGetCurrentXYPrimary = Own<QtCommandButton>(ui_.cmdGetCurrentXYPrimary);
        c.cmbAnchorFromAlt = Own<QtDropDownList>(ui_.cmbAnchorFromAlt);
        c.cmbAnchorToAlt = Own<QtDropDownList>(ui_.cmbAnchorToAlt);
        c.txtHDistanceAlt = Own<QtTextBox>(ui_.txtHDistanceAlt);
        c.chkHDistanceFieldAlt = Own<QtCheckBox>(ui_.chkHDistanceFieldAlt);
        c.cmdHFieldAlt = Own<QtDropDownList>(ui_.cmdHFieldAlt);
        c.txtVDistanceAlt = Own<QtTextBox>(ui_.txtVDistanceAlt);
        c.chkVDistanceFieldAlt = Own<QtCheckBox>(ui_.chkVDistanceFieldAlt);
        c.cmdVFieldAlt = Own<QtDropDownList>(ui_.cmdVFieldAlt);
        c.cmdMakeHorizontalOpposite = Own<QtCommandButton>(ui_.cmdMakeHorizontalOpposite);
        c.cmdGetCurrentXYAlternate = Own<QtCommandButton>(ui_.cmdGetCurrentXYAlternate);
        c.cmbAnchorPriority = Own<QtDropDownList>(ui_.cmbAnchorPriority);
    }

    const FormControls& Controls() const override { return controls_; }
    NativeWindow Window() const override { return window_.get(); }
    intptr_t Handle() const override { return static_cast<intptr_t>(window_->winId()); }
    void Show() override { window_->show(); }
    void Hide() override { window_->hide(); }
    int Width() const override { return window_->width(); }
    int Height() const override { return window_->height(); }

    void HugTabs(double rightTwips, double belowTwips) override {
        const int right = TwipsToPixelsX(*window_, rightTwips);
        const int below = TwipsToPixelsY(*window_, belowTwips);
        QLayout* layout = window_->layout();
        const QMargins m = layout->contentsMargins();
        layout->setContentsMargins(m.left(), m.top(), right, below);
        // A top-level window's adjustSize stops at a share of the screen; the form wants the
        // whole of its tab control.
        window_->resize(layout->sizeHint().expandedTo(layout->minimumSize()));
        // A hidden window lays out its children only when told to.
        layout->setGeometry(window_->rect());
        const QRect tab = ui_.sstabAnchorProperties->geometry();
        window_->resize(tab.x() + tab.width() + right, tab.y() + tab.height() + below);
    }

private:
    template <class Wrapper, class Widget>
    Wrapper* Own(Widget* widget) {
        owned_.push_back(std::make_unique<Wrapper>(widget));
        return static_cast<Wrapper*>(owned_.back().get());
    }

    // The wrappers go first, their connections with them, before the widgets they watch.
    std::unique_ptr<QWidget> window_;
    Ui::frmAnchorPropertyPage ui_;
    std::vector<std::unique_ptr<Control>> owned_;
    FormControls controls_;
};

}  // namespace

std::unique_ptr<FormWindow> NewFormWindow() { return std::make_unique<QtFormWindow>(); }

bool WindowsCanBeMade() { return qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr; }

bool SameTextIgnoringCase(const std::string& a, const std::string& b) {
    return Q(a).compare(Q(b), Qt::CaseInsensitive) == 0;
}

bool ContainsIgnoringCase(const std::string& text, const std::string& part) {
    return Q(text).contains(Q(part), Qt::CaseInsensitive);
}

}  // namespace crv::controls
