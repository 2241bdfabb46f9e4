#include "standalone/studio/PropertySheet.h"

#include "CRVAnchorTypeLib.h"
#include "com/Registry.h"
#include "errors/ErrorHandling.h"

#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

namespace crv::studio {

Guid ElementPropertyPagesCategory() {
    for (const auto& c : typelib::kCategories) {
        if (std::string(c.name) == "ElementPropertyPages") return Guid::FromString(c.guid);
    }
    Raise(hresult::kFail, "PropertySheet", "The host publishes no ElementPropertyPages category.");
}

PropertySheet::PropertySheet(const ComPtr<ObjectSet>& selection, const ComPtr<LayoutElement>& element, QWidget* parent)
    : QDialog(parent), element_(element) {
    setObjectName("PropertySheet");
    setWindowTitle(tr("Properties"));
    auto* layout = new QVBoxLayout(this);
    note_ = new QLabel(this);
    note_->setObjectName("sheetNote");
    note_->setWordWrap(true);
    note_->setStyleSheet("QLabel { background: #fff3cd; color: #664d03; border: 1px solid #ffda6a; padding: 6px; }");
    note_->hide();
    layout->addWidget(note_);
    tabs_ = new QTabWidget(this);
    tabs_->setObjectName("sheetTabs");
    layout->addWidget(tabs_);
    buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Apply, this);
    layout->addWidget(buttons_);

    // The host's own page: the element's name and where it stands.
    auto* general = new QWidget;
    general->setObjectName("generalPage");
    auto* form = new QFormLayout(general);
    const objects::Rect r = standalone::StandaloneHost::ExtentOf(element_);
    name_ = new QLineEdit(QString::fromStdString(element_->Name()), general);
    name_->setObjectName("generalName");
    x_ = new QDoubleSpinBox(general);
    y_ = new QDoubleSpinBox(general);
    x_->setObjectName("generalX");
    y_->setObjectName("generalY");
    for (QDoubleSpinBox* box : {x_, y_}) {
        box->setRange(-1e6, 1e6);
        box->setDecimals(3);
        box->setSingleStep(0.125);
    }
    x_->setValue(r.xmin);
    y_->setValue(r.ymin);
    form->addRow(tr("Name:"), name_);
    form->addRow(tr("X (left edge):"), x_);
    form->addRow(tr("Y (bottom edge):"), y_);
    auto mark = [this] {
        general_dirty_ = true;
        PageChanged();
    };
    connect(name_, &QLineEdit::textEdited, this, mark);
    connect(x_, &QDoubleSpinBox::valueChanged, this, mark);
    connect(y_, &QDoubleSpinBox::valueChanged, this, mark);
    tabs_->addTab(general, tr("General"));

    LoadPages(selection);

    ApplyButton()->setEnabled(false);
    connect(ApplyButton(), &QPushButton::clicked, this, [this] { ApplyAll(); });
    connect(buttons_, &QDialogButtonBox::accepted, this, [this] {
        ApplyAll();
        Close();
        accept();
    });
    connect(buttons_, &QDialogButtonBox::rejected, this, [this] {
        CancelAll();
        Close();
        reject();
    });
    connect(tabs_, &QTabWidget::currentChanged, this, [this](int index) { ShowTab(index); });
    ShowTab(0);
}

PropertySheet::~PropertySheet() { Close(); }

void PropertySheet::LoadPages(const ComPtr<ObjectSet>& selection) {
    auto registry = Registry::OpenIfExists();
    if (!registry) return;
    for (const Guid& clsid : registry->ClassesInCategory(ElementPropertyPagesCategory())) {
        try {
            Page p;
            p.page = CreateObject<IComPropertyPage>(clsid);
            if (!p.page->Applies(selection)) continue;
            p.site = ComPtr<SheetSite>(new SheetSite([this] { PageChanged(); }));
            p.page->SetObjects(selection);
            p.page->SetPageSite(ComPtr<PropertyPageSite>(p.site));
            const std::string title = p.page->Title();
            const int width = p.page->Width();
            const int height = p.page->Height();
            QWidget* window = QWidget::find(static_cast<WId>(p.page->Activate()));
            if (window == nullptr) {
                problems_.push_back(title + ": the page gave no window this host can show.");
                p.page->Deactivate();
                continue;
            }
            p.frame = new QWidget;
            p.frame->setObjectName(QString::fromStdString("page_" + title));
            p.frame->setMinimumSize(width, height);
            window->setParent(p.frame);
            window->move(0, 0);
            tabs_->addTab(p.frame, QString::fromStdString(title));
            pages_.push_back(std::move(p));
        } catch (const ComError& e) {
            problems_.push_back(clsid.ToString() + ": " + e.Description());
        }
    }
}

std::vector<std::string> PropertySheet::Titles() const {
    std::vector<std::string> out;
    for (int i = 0; i < tabs_->count(); ++i) out.push_back(tabs_->tabText(i).toStdString());
    return out;
}

QPushButton* PropertySheet::ApplyButton() const { return buttons_->button(QDialogButtonBox::Apply); }
QPushButton* PropertySheet::OkButton() const { return buttons_->button(QDialogButtonBox::Ok); }
QPushButton* PropertySheet::CancelButton() const { return buttons_->button(QDialogButtonBox::Cancel); }

void PropertySheet::ShowTab(int index) {
    if (closed_ || index == shown_) return;
    // Tab 0 is the host's own page; component pages follow in order.
    if (shown_ >= 1 && static_cast<size_t>(shown_ - 1) < pages_.size())
        pages_[static_cast<size_t>(shown_ - 1)].page->Hide();
    shown_ = index;
    if (index >= 1 && static_cast<size_t>(index - 1) < pages_.size())
        pages_[static_cast<size_t>(index - 1)].page->Show();
    if (tabs_->currentIndex() != index) tabs_->setCurrentIndex(index);
    note_->setVisible(!note_->text().isEmpty() && index >= 1);
}

void PropertySheet::SetNote(const std::string& text) {
    note_->setText(QString::fromStdString(text));
    note_->setVisible(!text.empty() && shown_ >= 1);
}

void PropertySheet::PageChanged() {
    bool dirty = general_dirty_;
    for (const Page& p : pages_) dirty = dirty || p.page->IsPageDirty();
    ApplyButton()->setEnabled(dirty);
}

void PropertySheet::ApplyGeneral() {
    if (!general_dirty_) return;
    standalone::ElementImpl& e = standalone::StandaloneHost::ElementOf(element_);
    e.SetName(name_->text().toStdString());
    const objects::Rect r = standalone::StandaloneHost::ExtentOf(element_);
    element_->Move(x_->value() - r.xmin, y_->value() - r.ymin);
    general_dirty_ = false;
}

void PropertySheet::ApplyAll() {
    ApplyGeneral();
    for (const Page& p : pages_) p.page->Apply();
    // The pages may have moved the element: the general page shows where it is now.
    const objects::Rect r = standalone::StandaloneHost::ExtentOf(element_);
    const QSignalBlocker bx(x_);
    const QSignalBlocker by(y_);
    x_->setValue(r.xmin);
    y_->setValue(r.ymin);
    PageChanged();
    if (applied) applied();
}

void PropertySheet::CancelAll() {
    for (const Page& p : pages_) p.page->Cancel();
}

void PropertySheet::Close() {
    if (closed_) return;
    closed_ = true;
    for (Page& p : pages_) {
        p.site->Detach();
        p.page->Deactivate();
    }
    pages_.clear();
}

}  // namespace crv::studio
