#include "standalone/studio/StudioWindow.h"

#include "anchor/CRVAnchorManager.h"
#include "anchor/GeneralFunctions.h"
#include "propertypage/QtErrorSink.h"
#include "support/Activation.h"
#include "standalone/mapbook/Render.h"
#include "standalone/studio/PropertySheet.h"

#include <QAction>
#include <QFileDialog>
#include <QKeySequence>
#include <QLabel>
#include <QContextMenuEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QRubberBand>
#include <QScrollArea>
#include <QScrollBar>
#include <QStatusBar>
#include <QToolBar>

#include <algorithm>
#include <cmath>

namespace crv::studio {

namespace fs = std::filesystem;
using objects::Rect;
using standalone::StandaloneHost;

namespace {

QString Q(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

bool Contains(const std::vector<ComPtr<LayoutElement>>& list, const ComPtr<LayoutElement>& e) {
    return std::any_of(list.begin(), list.end(), [&](const ComPtr<LayoutElement>& x) { return SameObject(x, e); });
}

}  // namespace

// ---------------------------------------------------------------------------------------------

PageView::PageView(StudioWindow& window) : window_(window) {
    setObjectName("pageView");
    setMouseTracking(false);
    band_ = new QRubberBand(QRubberBand::Rectangle, this);
    SetScale(scale_);
}

void PageView::SetScale(double pixelsPerUnit) {
    scale_ = std::clamp(pixelsPerUnit, 4.0, 2000.0);
    const auto& s = window_.host_.State();
    // A widget is at most QWIDGETSIZE_MAX pixels a side, whatever the page.
    auto side = [&](double units) {
        const double pixels = std::ceil(units * scale_) + 2 * kMargin;
        return std::isfinite(pixels) ? static_cast<int>(std::clamp(pixels, 0.0, double{QWIDGETSIZE_MAX})) : 2 * kMargin;
    };
    setFixedSize(side(s.page_width), side(s.page_height));
    update();
}

QPointF PageView::ToWidget(double x, double y) const {
    return {kMargin + x * scale_, kMargin + (window_.host_.State().page_height - y) * scale_};
}

QRectF PageView::ToWidget(const Rect& r) const { return QRectF(ToWidget(r.xmin, r.ymax), ToWidget(r.xmax, r.ymin)); }

QPointF PageView::ToPage(QPointF widget) const {
    return {(widget.x() - kMargin) / scale_, window_.host_.State().page_height - (widget.y() - kMargin) / scale_};
}

void PageView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), QColor(128, 128, 128));
    if (!window_.HasDocument()) return;
    const auto& s = window_.host_.State();
    const QRectF paper = ToWidget(Rect{0, 0, s.page_width, s.page_height});
    p.fillRect(paper.translated(3, 3), QColor(90, 90, 90));
    p.fillRect(paper, Qt::white);
    p.save();
    p.translate(kMargin, kMargin);
    p.setClipRect(QRectF(0, 0, paper.width(), paper.height()));
    try {
        standalone::DrawPage(p, window_.Doc(), window_.Book(), window_.CurrentPage(), scale_);
    } catch (const ComError& e) {
        // The series' dataset went bad since it was opened: the page says so where it would be.
        p.setPen(Qt::black);
        p.drawText(QRectF(0, 0, paper.width(), paper.height()), Qt::AlignCenter | Qt::TextWordWrap,
                   QString::fromStdString(e.Description()));
    }
    p.restore();

    // The selection: a dashed outline with eight handles, as layout views mark it.
    p.setRenderHint(QPainter::Antialiasing, false);
    for (const auto& e : window_.selection_) {
        const QRectF box = ToWidget(StandaloneHost::ExtentOf(e));
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(QColor(0, 120, 215), 1, Qt::DashLine));
        p.drawRect(box);
        p.setPen(QPen(QColor(0, 90, 170), 1));
        p.setBrush(Qt::white);
        const double h = 3.5;
        for (double fx : {0.0, 0.5, 1.0}) {
            for (double fy : {0.0, 0.5, 1.0}) {
                if (fx == 0.5 && fy == 0.5) continue;
                const QPointF c(box.left() + fx * box.width(), box.top() + fy * box.height());
                p.drawRect(QRectF(c.x() - h, c.y() - h, 2 * h, 2 * h));
            }
        }
    }
}

void PageView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !window_.HasDocument()) return;
    pressed_ = true;
    pressed_at_ = event->position().toPoint();
    band_->setGeometry(QRect(pressed_at_, QSize()));
}

void PageView::mouseMoveEvent(QMouseEvent* event) {
    if (!pressed_) return;
    const QRect r = QRect(pressed_at_, event->position().toPoint()).normalized();
    band_->setGeometry(r);
    band_->setVisible(r.width() > 3 || r.height() > 3);
}

void PageView::mouseReleaseEvent(QMouseEvent* event) {
    if (!pressed_ || event->button() != Qt::LeftButton) return;
    pressed_ = false;
    band_->hide();
    const bool adding = (event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier)) != 0;
    std::vector<ComPtr<LayoutElement>> picked;
    const QRect drag = QRect(pressed_at_, event->position().toPoint()).normalized();
    if (drag.width() > 3 || drag.height() > 3) {
        const QPointF a = ToPage(drag.topLeft());
        const QPointF b = ToPage(drag.bottomRight());
        picked = window_.ElementsInside(Rect{a.x(), b.y(), b.x(), a.y()});
    } else if (auto hit = window_.ElementAt(ToPage(event->position()))) {
        picked.push_back(hit);
    }
    if (!adding) {
        window_.Select(std::move(picked));
        return;
    }
    // Shift or Ctrl adds to the selection; clicking a selected element with them removes it.
    std::vector<ComPtr<LayoutElement>> next = window_.selection_;
    for (const auto& e : picked) {
        if (Contains(next, e) && picked.size() == 1) {
            std::erase_if(next, [&](const ComPtr<LayoutElement>& x) { return SameObject(x, e); });
        } else if (!Contains(next, e)) {
            next.push_back(e);
        }
    }
    window_.Select(std::move(next));
}

void PageView::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || !window_.HasDocument()) return;
    pressed_ = false;
    band_->hide();
    auto hit = window_.ElementAt(ToPage(event->position()));
    if (!hit) return;
    if (!Contains(window_.selection_, hit)) window_.Select({hit});
    window_.ShowProperties();
}

void PageView::contextMenuEvent(QContextMenuEvent* event) {
    if (!window_.HasDocument()) return;
    auto hit = window_.ElementAt(ToPage(event->pos()));
    if (hit && !Contains(window_.selection_, hit)) window_.Select({hit});
    QMenu menu(this);
    menu.addAction(window_.properties_);
    menu.addAction(window_.give_record_);
    menu.exec(event->globalPos());
}

// ---------------------------------------------------------------------------------------------

StudioWindow::StudioWindow(Options options) : options_(std::move(options)) {
    setObjectName("StudioWindow");
    if (options_.errorsInMessageBoxes) {
        sink_ = std::make_unique<QtErrorSink>();
        sink_scope_ = std::make_unique<ScopedErrorSink>(*sink_);
    }
    document_ = std::make_unique<standalone::Document>(host_);
    view_ = new PageView(*this);
    scroll_ = new QScrollArea(this);
    scroll_->setObjectName("pageScroll");
    scroll_->setWidget(view_);
    scroll_->setAlignment(Qt::AlignCenter);
    scroll_->setBackgroundRole(QPalette::Dark);
    setCentralWidget(scroll_);
    status_ = new QLabel(this);
    status_->setObjectName("statusText");
    statusBar()->addWidget(status_, 1);
    BuildMenus();
    resize(900, 900);
    UpdateStatus();
}

StudioWindow::~StudioWindow() {
    // The book releases its engine objects before the document's elements go.
    book_.reset();
}

void StudioWindow::BuildMenus() {
    QMenu* file = menuBar()->addMenu(tr("&File"));
    QAction* open = file->addAction(tr("&Open…"), this, [this] {
        const QString path = QFileDialog::getOpenFileName(this, tr("Open map document"), QString(),
                                                          tr("Map documents (*.json);;All files (*)"));
        if (!path.isEmpty()) Open(path.toStdString());
    });
    open->setShortcut(QKeySequence::Open);
    save_ = file->addAction(tr("&Save"), this, [this] { Save(); });
    save_->setShortcut(QKeySequence::Save);
    save_as_ = file->addAction(tr("Save &As…"), this, [this] {
        const QString path = QFileDialog::getSaveFileName(this, tr("Save map document as"), Q(Doc().Path().string()),
                                                          tr("Map documents (*.json)"));
        if (!path.isEmpty()) SaveAs(path.toStdString());
    });
    save_as_->setShortcut(QKeySequence::SaveAs);
    file->addSeparator();
    file->addAction(tr("&Quit"), this, &QWidget::close)->setShortcut(QKeySequence::Quit);

    QMenu* view = menuBar()->addMenu(tr("&View"));
    previous_ = view->addAction(tr("&Previous Page"), this, [this] { PreviousPage(); });
    previous_->setShortcut(QKeySequence(Qt::Key_PageUp));
    next_ = view->addAction(tr("&Next Page"), this, [this] { NextPage(); });
    next_->setShortcut(QKeySequence(Qt::Key_PageDown));
    view->addSeparator();
    view->addAction(tr("Zoom to &Page"), this, [this] { ZoomToPage(); })
        ->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_0));
    view->addAction(tr("Zoom &In"), this, [this] { view_->SetScale(view_->Scale() * 1.25); })
        ->setShortcut(QKeySequence::ZoomIn);
    view->addAction(tr("Zoom &Out"), this, [this] { view_->SetScale(view_->Scale() / 1.25); })
        ->setShortcut(QKeySequence::ZoomOut);

    QMenu* element = menuBar()->addMenu(tr("&Element"));
    properties_ = element->addAction(tr("&Properties…"), this, [this] { ShowProperties(); });
    properties_->setShortcut(QKeySequence(Qt::ALT | Qt::Key_Return));
    give_record_ = element->addAction(tr("Give &Anchor Record"), this, [this] { GiveAnchorRecord(); });
    element->addSeparator();
    element->addAction(tr("Select &None"), this, [this] { Select({}); })->setShortcut(QKeySequence(Qt::Key_Escape));

    QToolBar* bar = addToolBar(tr("Pages"));
    bar->setObjectName("pagesToolBar");
    bar->addAction(previous_);
    bar->addAction(next_);
    bar->addSeparator();
    bar->addAction(properties_);
    bar->addAction(give_record_);
}

void StudioWindow::Complain(const QString& title, const QString& text) {
    if (options_.complain) {
        options_.complain(title, text);
        return;
    }
    QMessageBox::warning(this, title, text);
}

bool StudioWindow::Open(const fs::path& path) {
    try {
        document_->Load(path);
    } catch (const standalone::DocumentError& e) {
        Complain(tr("Cannot open the map document"), Q(e.what()));
        return false;
    }
    // The document is replaced: the old book's selections belong to elements now gone.
    selection_.clear();
    book_.reset();
    RebuildBook();
    page_ = book_->surface.Range().first;
    ShowPage(page_);
    ZoomToPage();
    return true;
}

bool StudioWindow::Save() { return HasDocument() && SaveAs(Doc().Path()); }

bool StudioWindow::SaveAs(const fs::path& path) {
    if (!HasDocument()) return false;
    try {
        document_->Save(path);
    } catch (const standalone::DocumentError& e) {
        Complain(tr("Cannot save the map document"), Q(e.what()));
        return false;
    }
    UpdateStatus();
    return true;
}

void StudioWindow::RebuildBook() {
    // The engine reads an element's record when it selects it: a changed record needs a
    // new selection.
    book_.reset();
    book_ = std::make_unique<standalone::DocumentBook>(*document_);
}

void StudioWindow::ShowPage(int32_t page) {
    if (!HasDocument()) return;
    if (book_->surface.Range().HasPages()) {
        page_ = std::clamp(page, book_->surface.Range().first, book_->surface.Range().last);
        book_->driver.PlacePage(page_);
    } else {
        // A map series without features: the layout as it stands, no page to put in force.
        page_ = book_->surface.Range().first;
    }
    UpdateStatus();
    view_->update();
    emit PageShown(page_);
}

void StudioWindow::NextPage() {
    if (HasDocument() && page_ < book_->surface.Range().last) ShowPage(page_ + 1);
}

void StudioWindow::PreviousPage() {
    if (HasDocument() && page_ > book_->surface.Range().first) ShowPage(page_ - 1);
}

void StudioWindow::ZoomToPage() {
    const auto& s = host_.State();
    // A window not shown yet has no viewport size of its own; its own size stands in for it.
    const QSize viewport = isVisible() ? scroll_->viewport()->size() : size() - QSize(24, 110);
    const QSize room = viewport - QSize(2 * PageView::kMargin + 2, 2 * PageView::kMargin + 2);
    const double scale = std::min(room.width() / s.page_width, room.height() / s.page_height);
    view_->SetScale(scale);
}

std::vector<ComPtr<LayoutElement>> StudioWindow::TopLevel() const { return document_->Host().State().elements; }

ComPtr<LayoutElement> StudioWindow::ElementAt(QPointF at) const {
    const auto top = TopLevel();
    for (auto it = top.rbegin(); it != top.rend(); ++it) {
        const Rect r = StandaloneHost::ExtentOf(*it);
        if (at.x() >= r.xmin && at.x() <= r.xmax && at.y() >= r.ymin && at.y() <= r.ymax) return *it;
    }
    return {};
}

std::vector<ComPtr<LayoutElement>> StudioWindow::ElementsInside(const Rect& band) const {
    std::vector<ComPtr<LayoutElement>> out;
    for (const auto& e : TopLevel()) {
        const Rect r = StandaloneHost::ExtentOf(e);
        if (r.xmin >= band.xmin && r.xmax <= band.xmax && r.ymin >= band.ymin && r.ymax <= band.ymax) out.push_back(e);
    }
    return out;
}

void StudioWindow::Select(std::vector<ComPtr<LayoutElement>> elements) {
    selection_ = std::move(elements);
    UpdateStatus();
    view_->update();
}

bool StudioWindow::SelectByName(const std::string& name) {
    ComPtr<LayoutElement> found;
    standalone::WalkElements(host_.State().elements, [&](const ComPtr<LayoutElement>& e, const std::string&) {
        if (!found && StandaloneHost::ElementOf(e).name() == name) found = e;
    });
    if (!found) return false;
    Select({found});
    return true;
}

std::unique_ptr<PropertySheet> StudioWindow::MakeSheet() {
    if (!HasDocument() || selection_.empty()) return nullptr;
    std::vector<ComPtr<Unknown>> objects(selection_.begin(), selection_.end());
    auto set = MakeCom<ObjectSet, objects::ObjectSetImpl>(std::move(objects));
    auto sheet = std::make_unique<PropertySheet>(set, selection_.back(), this);
    // The book leaves an element of a cycle of anchors where it stands; its anchor page alone
    // would not tell.
    std::string note;
    for (const auto& left : book_->driver.Selection().LeftOutElements()) {
        if (left.cycle.empty()) continue;
        for (const auto& e : selection_) {
            if (!SameObject(e, left.element)) continue;
            if (!note.empty()) note += '\n';
            note += book::CycleLine(left.name, left.cycle);
            note += ". Paging leaves it where it stands; anchor one of the cycle elsewhere to place it.";
        }
    }
    sheet->SetNote(note);
    for (const auto& problem : sheet->Problems()) Complain(tr("Properties"), Q(problem));
    sheet->applied = [this] { Changed(); };
    return sheet;
}

void StudioWindow::ShowProperties() {
    auto sheet = MakeSheet();
    if (sheet) sheet->exec();
}

int StudioWindow::GiveAnchorRecord() {
    if (!HasDocument()) return 0;
    auto manager = CreateObjectByProgId<_CRVAnchorManager>(support::kAnchorManagerProgId);
    int given = 0;
    for (const auto& e : selection_) {
        if (GeneralFunctions::HasAnchorProperties(e)) continue;
        manager->AddAnchorProperties(e, manager->MakeAnchorProperties());
        if (GeneralFunctions::HasAnchorProperties(e)) ++given;
    }
    if (given > 0) Changed();
    return given;
}

void StudioWindow::Changed() {
    RebuildBook();
    UpdateStatus();
    view_->update();
}

void StudioWindow::UpdateStatus() {
    const bool open = HasDocument();
    for (QAction* a : {save_, save_as_}) a->setEnabled(open);
    previous_->setEnabled(open && page_ > book_->surface.Range().first);
    next_->setEnabled(open && page_ < book_->surface.Range().last);
    properties_->setEnabled(open && !selection_.empty());
    give_record_->setEnabled(open && !selection_.empty());
    if (!open) {
        setWindowTitle(tr("crvanchor-studio"));
        status_->setText(tr("No map document"));
        return;
    }
    setWindowTitle(Q(Doc().Path().filename().string()) + tr(" — crvanchor-studio"));
    QString text = tr("Page %1 of %2").arg(page_).arg(book_->surface.Range().last);
    if (book_->surface.Range().first != 1)
        text = tr("Page %1 (pages %2 to %3)").arg(page_).arg(book_->surface.Range().first).arg(book_->surface.Range().last);
    if (!book_->surface.Range().HasPages()) text = tr("No pages: the map series has no features");
    QStringList names;
    for (const auto& e : selection_) names << Q(StandaloneHost::ElementOf(e).name());
    if (!names.isEmpty()) text += tr("   Selected: ") + names.join(QStringLiteral(", "));
    status_->setText(text);
}

}  // namespace crv::studio
