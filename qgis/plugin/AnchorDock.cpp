#include "qgis/plugin/AnchorDock.h"

#include "CRVAnchorTypeLib.h"
#include "errors/ErrorHandling.h"
#include "anchor/CRVAnchorManager.h"
#include "support/Activation.h"
#include "objects/GenericObjects.h"
#include "qgis/host/QgisHost.h"
#include "book/Placement.h"
#include "support/MessageText.h"

#include <qgslayout.h>
#include <qgslayoutatlas.h>
#include <qgslayoutitem.h>
#include <qgslayoutitemgroup.h>
#include <qgslayoutitemmap.h>
#include <qgslayoutitemregistry.h>
#include <qgslayoutundostack.h>
#include <qgsprintlayout.h>
#include <qgsvectorlayer.h>

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTabWidget>
#include <QVBoxLayout>

#include <unordered_map>

namespace crv::qgis {

// What the page tells the dock: its contents changed.
class DockSite final : public ComObject<PropertyPageSite> {
public:
    explicit DockSite(std::function<void()> changed) : changed_(std::move(changed)) {}
    void PageChanged() override {
        if (changed_) changed_();
    }
    void Detach() { changed_ = nullptr; }

private:
    std::function<void()> changed_;
};

// The atlas leaves an item of a cycle of anchors where it stands; its anchor page alone would
// not tell.
QString CycleNote(const std::vector<ComPtr<Unknown>>& shown) {
    // How often each object is shown, so that a selection of the whole layout is not compared
    // with every element of every cycle.
    std::unordered_map<const void*, int> times;
    for (const auto& e : shown) ++times[Identity(e)];
    QStringList lines;
    for (const auto& [element, cycle] : book::AnchorCycles(RunningApplication()->Document()->PageLayout())) {
        const auto it = times.find(Identity(element));
        for (int k = 0; it != times.end() && k < it->second; ++k) {
            lines << QString::fromStdString(book::CycleLine(element->Name(), cycle) +
                                            ". The atlas leaves it where it stands; anchor one of the cycle "
                                            "elsewhere to place it.");
        }
    }
    return lines.join('\n');
}

QString ItemName(QgsLayoutItem* item) { return item->id().isEmpty() ? item->displayName() : item->id(); }

// QGIS puts an item with a data-defined position back where its data says, whatever the engine
// does; the atlas leaves it out, and its anchor page alone would not tell.
QString DataDefinedNote(const std::vector<QgsLayoutItem*>& items) {
    QStringList lines;
    for (QgsLayoutItem* item : items) {
        const std::string why = WhyMoveDoesNotHold(*item);
        if (why.empty()) continue;
        lines << QString::fromStdString(support::QuotedValue(ItemName(item).toStdString()) + ": " + why +
                                        "; the atlas leaves it where QGIS puts it. Clear the data-defined "
                                        "position to anchor it.");
    }
    return lines.join('\n');
}

// The page speaks of elements, map series, map series frames and pages, and gives distances
// without a unit: what each is in this layout, in QGIS's words.
QString TermsOf(QgsLayout* layout) {
    if (layout == nullptr) return {};
    QStringList lines;
    lines << AnchorDock::tr(
                 "Elements are layout items, named by their item ID. Distances are in layout units (%1), "
                 "on the page the item stands on.")
                 .arg(QgsUnitTypes::toString(layout->units()));
    auto* print = qobject_cast<QgsPrintLayout*>(layout);
    QgsLayoutAtlas* atlas = print ? print->atlas() : nullptr;
    if (atlas == nullptr || !atlas->enabled() || atlas->coverageLayer() == nullptr) {
        lines << AnchorDock::tr(
            "The map series is the atlas; this layout has none enabled, so distances from a "
            "field and alternate rules by page have no pages to follow.");
        return lines.join('\n');
    }
    QStringList maps;
    QList<QgsLayoutItemMap*> items;
    layout->layoutItems(items);
    for (QgsLayoutItemMap* map : items) {
        if (map->atlasDriven()) maps << QString::fromStdString(support::QuotedValue(ItemName(map).toStdString()));
    }
    const QString layer = QString::fromStdString(support::QuotedValue(atlas->coverageLayer()->name().toStdString()));
    lines << AnchorDock::tr(
                 "The map series is the atlas over %1; its pages are the atlas pages, and a field is a "
                 "field of the atlas feature.")
                 .arg(layer);
    lines << (maps.isEmpty() ? AnchorDock::tr("No map item is controlled by the atlas, so none is a map series frame.")
                             : AnchorDock::tr("The map series frame is the map item the atlas controls: %1.")
                                   .arg(maps.join(QStringLiteral(", "))));
    return lines.join('\n');
}

AnchorDock::AnchorDock(QgsLayout* layout, ElementSource elements, QWidget* parent)
    : QDockWidget(tr("Anchor"), parent), layout_(layout), elements_(std::move(elements)) {
    setObjectName("CRVAnchorDock");
    auto* body = new QWidget(this);
    auto* column = new QVBoxLayout(body);
    subject_ = new QLabel(body);
    subject_->setObjectName("anchorSubject");
    subject_->setWordWrap(true);
    note_ = new QLabel(body);
    note_->setObjectName("anchorNote");
    note_->setWordWrap(true);
    terms_ = new QLabel(body);
    terms_->setObjectName("anchorTerms");
    terms_->setWordWrap(true);
    scroll_ = new QScrollArea(body);
    scroll_->setObjectName("anchorPageArea");
    scroll_->setWidgetResizable(false);
    scroll_->setWidget(new QWidget);
    apply_ = new QPushButton(tr("Apply"), body);
    apply_->setObjectName("anchorApply");
    cancel_ = new QPushButton(tr("Cancel"), body);
    cancel_->setObjectName("anchorCancel");
    give_record_ = new QPushButton(tr("Give Anchor Record"), body);
    give_record_->setObjectName("anchorGiveRecord");
    give_record_->hide();
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(apply_);
    buttons->addWidget(cancel_);
    column->addWidget(subject_);
    column->addWidget(note_);
    column->addWidget(give_record_, 0, Qt::AlignLeft);
    column->addWidget(terms_);
    column->addWidget(scroll_, 1);
    column->addLayout(buttons);
    setWidget(body);

    connect(apply_, &QPushButton::clicked, this, [this] { Apply(); });
    connect(cancel_, &QPushButton::clicked, this, [this] { Cancel(); });
    connect(give_record_, &QPushButton::clicked, this, [this] { GiveRecord(); });
    if (layout_) connect(layout_, &QGraphicsScene::selectionChanged, this, [this] { FollowSelection(); });
    FollowSelection();
}

AnchorDock::~AnchorDock() {
    // The page owns its window: it must take it back before this dock's widgets go.
    ClosePage();
}

QString AnchorDock::Subject() const { return subject_->text(); }
QString AnchorDock::Note() const { return note_->text(); }
QString AnchorDock::Terms() const { return terms_->text(); }

void AnchorDock::UpdateTerms() {
    terms_->setText(TermsOf(layout_));
    terms_->setVisible(page_window_ != nullptr);
}

void AnchorDock::FollowSelection() {
    std::vector<QgsLayoutItem*> items;
    if (layout_) {
        for (QgsLayoutItem* item : layout_->selectedLayoutItems()) {
            if (item->type() != QgsLayoutItemRegistry::LayoutPage) items.push_back(item);
        }
    }
    ShowItems(items);
    UpdateTerms();
}

void AnchorDock::ShowItems(const std::vector<QgsLayoutItem*>& items) {
    ClosePage();
    shown_.assign(items.begin(), items.end());
    note_->clear();
    give_record_->hide();
    if (items.empty()) {
        subject_->setText(tr("No item selected."));
        PageChanged();
        return;
    }
    QStringList names;
    for (QgsLayoutItem* item : items) names << ItemName(item);
    subject_->setText(names.join(QStringLiteral(", ")));
    if (!elements_) {
        PageChanged();
        return;
    }

    try {
        if (activate_) activate_();
        std::vector<ComPtr<Unknown>> objects;
        for (QgsLayoutItem* item : items) {
            if (ComPtr<LayoutElement> element = elements_(item)) objects.push_back(ComPtr<Unknown>(element));
        }
        const ComPtr<ObjectSet> selection = MakeCom<ObjectSet, objects::ObjectSetImpl>(objects);
        ComPtr<IComPropertyPage> page = CreateObject<IComPropertyPage>(typelib::kClsidAnchorPropertyPage);
        if (!page->Applies(selection)) {
            note_->setText(items.size() == 1 ? tr("This item is not anchored.")
                                             : tr("None of these items is anchored."));
            give_record_->show();
            PageChanged();
            return;
        }
        site_ = ComPtr<DockSite>(new DockSite([this] { PageChanged(); }));
        page->SetObjects(selection);
        page->SetPageSite(ComPtr<PropertyPageSite>(site_));
        const int width = page->Width();
        const int height = page->Height();
        QWidget* window = QWidget::find(static_cast<WId>(page->Activate()));
        if (window == nullptr) {
            page->Deactivate();
            note_->setText(tr("The anchor page gave no window this dock can show."));
            PageChanged();
            return;
        }
        page_ = page;
        page_window_ = window;
        QWidget* frame = scroll_->widget();
        frame->setFixedSize(width, height);
        // Docked, the dock is as wide as the page: no sideways scrolling to reach its fields.
        scroll_->setMinimumWidth(width + 2 * scroll_->frameWidth() + scroll_->verticalScrollBar()->sizeHint().width());
        window->setParent(frame);
        window->move(0, 0);
        page_->Show();
        window->show();
        QStringList notes{DataDefinedNote(items), CycleNote(objects)};
        notes.removeAll(QString());
        note_->setText(notes.join('\n'));
    } catch (const ComError& e) {
        ClosePage();
        note_->setText(QString::fromStdString(e.Description()));
    }
    PageChanged();
}

void AnchorDock::ClosePage() {
    if (site_) site_->Detach();
    site_.Reset();
    page_window_ = nullptr;
    if (!page_) return;
    const ComPtr<IComPropertyPage> page = std::move(page_);
    page_.Reset();
    page->Deactivate();
}

void AnchorDock::PageChanged() {
    const bool dirty = page_ && page_->IsPageDirty();
    apply_->setEnabled(dirty);
    cancel_->setEnabled(dirty);
}

// The items an Apply can change: those shown, and the items inside a group, which move with it.
std::vector<QgsLayoutItem*> ItemsAndMembers(const std::vector<QPointer<QgsLayoutItem>>& shown) {
    std::vector<QgsLayoutItem*> items;
    for (const QPointer<QgsLayoutItem>& item : shown) {
        if (item) items.push_back(item);
    }
    for (size_t i = 0; i < items.size(); ++i) {
        if (const auto* group = qobject_cast<const QgsLayoutItemGroup*>(items[i])) {
            for (QgsLayoutItem* m : group->items()) {
                if (m != nullptr) items.push_back(m);
            }
        }
    }
    return items;
}

// One step of the layout's undo history, named for the items, over what an Apply changes in
// them: the record in their custom properties and the move it makes. The moves' own steps are
// kept out of it, since undoing one of them would bring back the new record.
class ApplyStep {
public:
    ApplyStep(QgsLayout* layout, const std::vector<QgsLayoutItem*>& items, const QString& text)
        : stack_(layout != nullptr ? layout->undoStack() : nullptr) {
        if (stack_ == nullptr) return;
        stack_->beginMacro(text);
        for (QgsLayoutItem* item : items) stack_->beginCommand(item, text);
        commands_ = items.size();
        stack_->blockCommands(true);
    }
    ~ApplyStep() {
        if (stack_ == nullptr) return;
        stack_->blockCommands(false);
        for (size_t i = 0; i < commands_; ++i) stack_->endCommand();
        stack_->endMacro();
    }
    ApplyStep(const ApplyStep&) = delete;
    ApplyStep& operator=(const ApplyStep&) = delete;

private:
    QPointer<QgsLayoutUndoStack> stack_;
    size_t commands_ = 0;
};

void AnchorDock::Apply() {
    if (!page_) return;
    if (activate_) activate_();
    {
        const ApplyStep step(layout_, ItemsAndMembers(shown_), tr("Anchor %1").arg(subject_->text()));
        page_->Apply();
    }
    // The page stays marked as changed after it applied: opened afresh it shows the record as
    // stored, with nothing left to apply.
    Reopen();
}

void AnchorDock::Cancel() {
    if (!page_) return;
    if (activate_) activate_();
    page_->Cancel();
    Reopen();
}

void AnchorDock::GiveRecord() {
    try {
        if (activate_) activate_();
        auto manager = CreateObjectByProgId<_CRVAnchorManager>(support::kAnchorManagerProgId);
        for (const QPointer<QgsLayoutItem>& item : shown_) {
            const ComPtr<LayoutElement> element = item && elements_ ? elements_(item) : ComPtr<LayoutElement>();
            if (element && !book::AnchorRecordOf(element))
                manager->AddAnchorProperties(element, manager->MakeAnchorProperties());
        }
    } catch (const ComError& e) {
        note_->setText(QString::fromStdString(e.Description()));
        return;
    }
    Reopen();
}

void AnchorDock::Reopen() {
    std::vector<QgsLayoutItem*> items;
    for (const QPointer<QgsLayoutItem>& item : shown_) {
        if (item) items.push_back(item);
    }
    // The page opens on its first tab; whoever just applied an edit on another wants to see it.
    const auto* tabs = page_window_ ? page_window_->findChild<QTabWidget*>() : nullptr;
    const int tab = tabs ? tabs->currentIndex() : -1;
    ShowItems(items);
    UpdateTerms();
    if (auto* reopened = page_window_ ? page_window_->findChild<QTabWidget*>() : nullptr; reopened && tab >= 0)
        reopened->setCurrentIndex(tab);
}

}  // namespace crv::qgis
