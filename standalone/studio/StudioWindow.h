#pragma once
// The desktop window of the standalone host: one map document's layout page drawn as the map
// book command draws it, its elements selected by click or rubber band, the book's pages
// stepped through, the host's property sheet on the selection, and saving and opening.

#include "errors/ErrorHandling.h"
#include "standalone/mapbook/Book.h"
#include "standalone/document/Document.h"
#include "standalone/host/StandaloneHost.h"

#include <QMainWindow>
#include <QWidget>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QAction;
class QLabel;
class QRubberBand;
class QScrollArea;

namespace crv::studio {

class PropertySheet;
class StudioWindow;

// The page as drawn, and the mouse on it.
class PageView : public QWidget {
    Q_OBJECT
public:
    explicit PageView(StudioWindow& window);

    // Page units to widget pixels and back (the page grows upward, the widget downward).
    QPointF ToWidget(double x, double y) const;
    QRectF ToWidget(const objects::Rect& r) const;
    QPointF ToPage(QPointF widget) const;
    double Scale() const { return scale_; }
    void SetScale(double pixelsPerUnit);
    // Grey round the paper, in widget pixels.
    static constexpr int kMargin = 12;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    StudioWindow& window_;
    double scale_ = 72;
    QRubberBand* band_ = nullptr;
    QPoint pressed_at_;
    bool pressed_ = false;
};

class StudioWindow : public QMainWindow {
    Q_OBJECT
public:
    struct Options {
        // Error reports of the component as message boxes while the window lives; tests keep
        // their own recorder instead.
        bool errorsInMessageBoxes = true;
        // How the window tells the user that something failed; a warning message box unless
        // replaced.
        std::function<void(const QString& title, const QString& text)> complain;
    };

    explicit StudioWindow(Options options);
    StudioWindow() : StudioWindow(Options{}) {}
    ~StudioWindow() override;

    // Opens a document and shows its first page. On failure tells the user, returns false and
    // leaves the window as it was.
    bool Open(const std::filesystem::path& path);
    bool Save();
    bool SaveAs(const std::filesystem::path& path);

    bool HasDocument() const { return book_ != nullptr; }
    const standalone::Document& Doc() const { return *document_; }
    standalone::StandaloneHost& Host() { return host_; }
    const standalone::DocumentBook& Book() const { return *book_; }
    int32_t CurrentPage() const { return page_; }
    // Sets the page in force in the companions and re-anchors every anchored element for it.
    void ShowPage(int32_t page);
    void NextPage();
    void PreviousPage();
    void ZoomToPage();

    // Top-level elements, the topmost one (last in container order) winning where they overlap.
    ComPtr<LayoutElement> ElementAt(QPointF pagePoint) const;
    // Top-level elements lying wholly inside the rectangle.
    std::vector<ComPtr<LayoutElement>> ElementsInside(const objects::Rect& r) const;
    const std::vector<ComPtr<LayoutElement>>& Selected() const { return selection_; }
    void Select(std::vector<ComPtr<LayoutElement>> elements);
    // Selects the element of that name, searched through groups too; false when there is none.
    bool SelectByName(const std::string& name);
    PageView* View() const { return view_; }

    // The property sheet for the selection, not yet shown; nullptr without a selection. Its
    // Apply redraws the page and takes the new records into the book.
    std::unique_ptr<PropertySheet> MakeSheet();
    // "Properties…": the sheet, modal.
    void ShowProperties();
    // Gives every selected element without an anchor record a default one, through the engine
    // created by its programmatic identifier. Returns how many got one.
    int GiveAnchorRecord();

signals:
    void PageShown(int page);

private:
    friend class PageView;
    void BuildMenus();
    void RebuildBook();
    void Changed();
    void Complain(const QString& title, const QString& text);
    void UpdateStatus();
    std::vector<ComPtr<LayoutElement>> TopLevel() const;

    Options options_;
    std::unique_ptr<ErrorSink> sink_;
    std::unique_ptr<ScopedErrorSink> sink_scope_;
    standalone::StandaloneHost host_;
    std::unique_ptr<standalone::Document> document_;
    std::unique_ptr<standalone::DocumentBook> book_;
    int32_t page_ = 1;
    std::vector<ComPtr<LayoutElement>> selection_;
    PageView* view_ = nullptr;
    QScrollArea* scroll_ = nullptr;
    QLabel* status_ = nullptr;
    QAction* save_ = nullptr;
    QAction* save_as_ = nullptr;
    QAction* next_ = nullptr;
    QAction* previous_ = nullptr;
    QAction* properties_ = nullptr;
    QAction* give_record_ = nullptr;
};

}  // namespace crv::studio
