#include "standalone/mapbook/Render.h"

#include "commands/OutputCheck.h"
#include "drawing/OutlinePainter.h"

#include "support/AtomicFile.h"
#include "support/FileIdentity.h"

#include <QBuffer>
#include <QFont>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QImage>
#include <QLineF>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPainterPath>
#include <QPdfWriter>
#include <QPen>
#include <QPolygonF>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <string_view>

namespace crv::standalone {

namespace {

// The toolkit's notes about the desktop session it runs without are not the user's concern.
void QuietMessages(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtDebugMsg || type == QtInfoMsg) return;
    if (type == QtWarningMsg && message.contains(QStringLiteral("XDG_RUNTIME_DIR"))) return;
    std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
}

}  // namespace

void EnsureGuiApplication() {
    if (QGuiApplication::instance() != nullptr) return;
    qInstallMessageHandler(QuietMessages);
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "crvanchor";
    static char* argv[] = {name, nullptr};
    // Kept for the life of the process, as the toolkit expects of its application object.
    static QGuiApplication* app = new QGuiApplication(argc, argv);
    (void)app;
}

namespace {

double PointsPerUnit(const std::string& units) {
    if (units == "centimeters") return 72.0 / 2.54;
    if (units == "millimeters") return 72.0 / 25.4;
    if (units == "points") return 1.0;
    return 72.0;
}

QString Q(const std::string& s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

// Page units to device pixels, Y flipped: the page grows upward, the device downward.
struct Canvas {
    QPainter& p;
    double scale;  // device pixels per page unit
    double page_height;  // page units
    double points_per_unit;

    QRectF Box(const Rect& r) const {
        return QRectF(QPointF(r.xmin * scale, (page_height - r.ymax) * scale),
                      QPointF(r.xmax * scale, (page_height - r.ymin) * scale));
    }
    double PixelsForPoints(double points) const { return points / points_per_unit * scale; }
};

QFont Font(double pixels, bool bold = false) {
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPixelSize(std::max(1, static_cast<int>(std::lround(pixels))));
    f.setBold(bold);
    return f;
}

// "{page}" and "{field:NAME}" stand for the page shown and a field of its feature, the
// series' page in force.
std::string Substitute(const std::string& text, int32_t page, const SeriesData* series) {
    std::string out;
    size_t at = 0;
    while (at < text.size()) {
        const size_t open = text.find('{', at);
        if (open == std::string::npos) break;
        const size_t close = text.find('}', open);
        if (close == std::string::npos) break;
        out += text.substr(at, open - at);
        const std::string token = text.substr(open + 1, close - open - 1);
        if (token == "page") {
            out += std::to_string(page);
        } else if (token.rfind("field:", 0) == 0) {
            const Variant v = series != nullptr ? series->CurrentValue(token.substr(6)) : Variant::Null();
            if (!v.IsNull() && !v.IsEmpty()) out += CStr(v);
        } else {
            out += text.substr(open, close - open + 1);
        }
        at = close + 1;
    }
    return out + text.substr(std::min(at, text.size()));
}

void DrawText(const Canvas& c, ElementImpl& e, const ElementStyle& style, int32_t page, const SeriesData* series) {
    const QRectF box = c.Box(e.OutlineRect());
    const QString text = Q(Substitute(e.text, page, series));
    QFont font = Font(style.font_size > 0 ? c.PixelsForPoints(style.font_size) : box.height() * 0.72);
    if (style.font_size <= 0) {
        const double width = QFontMetricsF(font).horizontalAdvance(text);
        if (width > box.width() * 0.96 && width > 0) font = Font(box.height() * 0.72 * box.width() * 0.96 / width);
    }
    c.p.setFont(font);
    c.p.setPen(QColor(20, 20, 20));
    const Qt::Alignment across = style.align == "left"    ? Qt::AlignLeft
                                 : style.align == "right" ? Qt::AlignRight
                                                          : Qt::AlignHCenter;
    c.p.drawText(box, static_cast<int>((across | Qt::AlignVCenter).toInt()), text);
}

void DrawPicture(const Canvas& c, ElementImpl& e, const ElementStyle& style) {
    const QRectF box = c.Box(e.OutlineRect());
    QImage image;
    if (!style.picture.empty()) image.load(Q(style.picture.string()));
    if (image.isNull()) {
        c.p.setPen(QPen(QColor(160, 40, 40), std::max(1.0, c.scale * 0.01)));
        c.p.setBrush(Qt::NoBrush);
        c.p.drawRect(box);
        c.p.drawLine(box.topLeft(), box.bottomRight());
        c.p.drawLine(box.topRight(), box.bottomLeft());
        return;
    }
    QSizeF size = QSizeF(image.size()).scaled(box.size(), Qt::KeepAspectRatio);
    const QRectF target(box.center().x() - size.width() / 2, box.center().y() - size.height() / 2, size.width(),
                        size.height());
    c.p.setRenderHint(QPainter::SmoothPixmapTransform);
    c.p.drawImage(target, image);
}

double NiceStep(double span) {
    const double raw = span / 5;
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0, 10.0}) {
        if (raw <= m * magnitude) return m * magnitude;
    }
    return 10 * magnitude;
}

// The grid lines from lo to hi at multiples of step; none when they cannot be told apart or
// would be more than a frame can show.
std::vector<double> GridLines(double lo, double hi, double step) {
    constexpr double kMostLines = 200;
    std::vector<double> lines;
    if (!(step > 0) || !std::isfinite(lo) || !std::isfinite(hi)) return lines;
    const double first = std::ceil(lo / step);
    const double last = std::floor(hi / step);
    if (!(last - first < kMostLines)) return lines;
    const int count = static_cast<int>(last - first) + 1;
    for (int i = 0; i < count; ++i) {
        const double at = (first + i) * step;
        if (!lines.empty() && at == lines.back()) return {};  // steps below the coordinates' precision
        lines.push_back(at);
    }
    return lines;
}

void DrawMapFrame(const Canvas& c, ElementImpl& e, const ElementStyle& style) {
    const QRectF box = c.Box(e.OutlineRect());
    // Restored however drawing ends: a sheet's label read from a dataset may raise.
    struct Saved {
        QPainter& p;
        explicit Saved(QPainter& painter) : p(painter) { p.save(); }
        ~Saved() { p.restore(); }
        Saved(const Saved&) = delete;
        Saved& operator=(const Saved&) = delete;
    };
    std::optional<Saved> saved(std::in_place, c.p);
    c.p.setClipRect(box);
    c.p.fillRect(box, QColor(214, 230, 240));
    const SeriesData* s = e.series.get();
    if (s != nullptr && !s->envelopes.empty() && s->current_position >= 1 &&
        static_cast<size_t>(s->current_position) <= s->envelopes.size()) {
        // The page's feature with a margin of its neighbours, stretched to the frame's shape.
        Rect view = s->envelopes[static_cast<size_t>(s->current_position - 1)];
        view = view.Grown(0.3 * std::max(view.Width(), view.Height()));
        const double frameAspect = box.width() / box.height();
        if (view.Width() / view.Height() < frameAspect) {
            const double grow = (view.Height() * frameAspect - view.Width()) / 2;
            view = {view.xmin - grow, view.ymin, view.xmax + grow, view.ymax};
        } else {
            const double grow = (view.Width() / frameAspect - view.Height()) / 2;
            view = {view.xmin, view.ymin - grow, view.xmax, view.ymax + grow};
        }
        const double k = box.width() / view.Width();
        auto toDevice = [&](const Rect& r) {
            return QRectF(QPointF(box.left() + (r.xmin - view.xmin) * k, box.top() + (view.ymax - r.ymax) * k),
                          QPointF(box.left() + (r.xmax - view.xmin) * k, box.top() + (view.ymax - r.ymin) * k));
        };
        int label = -1;
        for (size_t i = 0; i < s->fields.size(); ++i) {
            if (!style.label_field.empty() && s->fields[i].name == style.label_field) label = static_cast<int>(i);
        }
        const double thin = std::max(1.0, c.scale * 0.008);
        for (const size_t i : s->SheetsMeeting(view)) {
            const Rect& r = s->envelopes[i];
            const bool current = i == static_cast<size_t>(s->current_position - 1);
            const QRectF d = toDevice(r);
            c.p.setBrush(current ? QColor(250, 240, 200) : QColor(226, 236, 214));
            c.p.setPen(QPen(current ? QColor(150, 40, 30) : QColor(120, 130, 110), current ? thin * 3 : thin));
            c.p.drawRect(d);
            if (label >= 0) {
                const Variant v = s->Value(i, static_cast<size_t>(label));
                const QString text = v.IsNull() ? QString() : Q(CStr(v));
                c.p.setFont(Font(current ? std::min(d.height() * 0.12, c.scale * 0.4) : c.scale * 0.16, current));
                c.p.setPen(current ? QColor(120, 30, 20) : QColor(90, 100, 80));
                // A neighbour is named in the part of it that shows.
                // Below the middle, clear of the grid's labels on the lines through sheet centres.
                const double drop = current ? 0 : c.scale * 0.22;
                c.p.drawText(current ? d : d.intersected(box).translated(0, drop), Qt::AlignCenter, text);
            }
        }
        // A coordinate grid in map units, labelled along the bottom and left of the frame. The
        // lines are counted, not stepped to: on a sheet narrower than a few floating-point steps
        // adding the step to a coordinate would not move it.
        const double step = NiceStep(std::max(view.Width(), view.Height()));
        c.p.setPen(QPen(QColor(60, 90, 120, 110), thin));
        c.p.setFont(Font(c.scale * 0.11));
        for (const double x : GridLines(view.xmin, view.xmax, step)) {
            const double dx = box.left() + (x - view.xmin) * k;
            c.p.drawLine(QPointF(dx, box.top()), QPointF(dx, box.bottom()));
            c.p.drawText(QPointF(dx + thin * 2, box.bottom() - thin * 3), QString::number(x, 'f', 0));
        }
        for (const double y : GridLines(view.ymin, view.ymax, step)) {
            const double dy = box.top() + (view.ymax - y) * k;
            c.p.drawLine(QPointF(box.left(), dy), QPointF(box.right(), dy));
            c.p.drawText(QPointF(box.left() + thin * 3, dy - thin * 2), QString::number(y, 'f', 0));
        }
    }
    saved.reset();
    const double border = e.FrameBorder();
    if (border > 0) {
        // The border lies outside the outline, which is why a frame's bounds exceed it.
        const double w = border * c.scale;
        c.p.setPen(QPen(QColor(30, 30, 30), w, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
        c.p.setBrush(Qt::NoBrush);
        c.p.drawRect(box.adjusted(-w / 2, -w / 2, w / 2, w / 2));
    }
}

void DrawElement(const Canvas& c, const Document& doc, const ComPtr<LayoutElement>& element, int32_t page,
                 const SeriesData* series) {
    ElementImpl& e = StandaloneHost::ElementOf(element);
    const ElementStyle& style = doc.StyleOf(element);
    switch (e.Kind()) {
        case ElementKind::Text: DrawText(c, e, style, page, series); return;
        case ElementKind::Picture: DrawPicture(c, e, style); return;
        case ElementKind::MapFrame: DrawMapFrame(c, e, style); return;
        default:
            for (const auto& m : e.Members()) DrawElement(c, doc, m, page, series);
            return;
    }
}

}  // namespace

void DrawPage(QPainter& painter, const Document& document, const DocumentBook& book, int32_t page, double pixelsPerUnit) {
    const HostState& s = document.Host().State();
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    const Canvas c{painter, pixelsPerUnit, s.page_height, PointsPerUnit(document.Units())};
    const SeriesData* series =
        book.surface.Range().series_frame ? StandaloneHost::ElementOf(book.surface.Range().series_frame).series.get() : nullptr;
    for (const auto& e : s.elements) DrawElement(c, document, e, page, series);
    painter.restore();
}

void DrawOutlines(QPainter& painter, const Document& document, const DocumentBook& book, int32_t page,
                  double pixelsPerUnit) {
    drawing::PaintOutlines(painter, book.driver.Outlines(page), pixelsPerUnit, document.Host().State().page_height);
}

namespace {

// Hands everything the PDF writer writes to an atomic file, and keeps the first failure: the
// writer itself does not look at what its device returns.
class AtomicDevice final : public QIODevice {
public:
    explicit AtomicDevice(AtomicFile& file) : file_(file) { open(QIODevice::WriteOnly); }
    bool isSequential() const override { return true; }
    const std::optional<FileWriteError>& Failure() const { return failure_; }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 size) override {
        if (failure_) return -1;
        try {
            file_.Write(std::string_view(data, static_cast<size_t>(size)));
        } catch (const FileWriteError& e) {
            failure_ = e;
            return -1;
        }
        return size;
    }

private:
    AtomicFile& file_;
    std::optional<FileWriteError> failure_;
};

// PDF pages are at most 200 inches a side.
constexpr double kLargestPdfPoints = 14400;
constexpr double kSmallestPdfPoints = 3;
// The largest picture, in pixels a side, that the image toolkit can hold.
constexpr double kLargestPngPixels = 32767;

std::string SizeText(double v) {
    std::ostringstream s;
    s << v;
    return s.str();
}

}  // namespace

struct BookRenderer::Outputs {
    Outputs(const Document& d, const DocumentBook& b) : doc(d), book(b) {}
    const Document& doc;
    const DocumentBook& book;
    // Destroyed in reverse: the painter ends before its writer, the writer before its device,
    // the device before the file whose temporary copy it fills.
    std::unique_ptr<AtomicFile> pdf_file;
    std::unique_ptr<AtomicDevice> pdf_device;
    std::unique_ptr<QPdfWriter> pdf;
    std::unique_ptr<QPainter> pdf_painter;
    bool pdf_has_page = false;
    std::filesystem::path png_folder;
    double png_dpi = 100;
    int png_width = 0, png_height = 0;
    bool png_outline = false;

    void Draw(QPainter& p, double deviceWidth, int32_t page) {
        DrawPage(p, doc, book, page, deviceWidth / doc.Host().State().page_width);
    }
    void ThrowIfPdfFailed() const {
        if (pdf_device && pdf_device->Failure()) throw *pdf_device->Failure();
    }
};

BookRenderer::BookRenderer(const Document& document, const DocumentBook& book)
    : outputs_(std::make_unique<Outputs>(document, book)) {
    EnsureGuiApplication();
}

BookRenderer::~BookRenderer() {
    if (outputs_->pdf_painter && outputs_->pdf_painter->isActive()) outputs_->pdf_painter->end();
}

void BookRenderer::StartPdf(const std::filesystem::path& path) {
    const HostState& s = outputs_->doc.Host().State();
    const double ppu = PointsPerUnit(outputs_->doc.Units());
    const double w = s.page_width * ppu, h = s.page_height * ppu;
    if (!(w >= kSmallestPdfPoints && w <= kLargestPdfPoints && h >= kSmallestPdfPoints && h <= kLargestPdfPoints)) {
        throw RenderError(path.string() + ": a page of " + SizeText(w) + " x " + SizeText(h) +
                          " points cannot be drawn: a PDF page is 3 to 14400 points a side");
    }
    outputs_->pdf_file = std::make_unique<AtomicFile>(path, "Book");
    outputs_->pdf_device = std::make_unique<AtomicDevice>(*outputs_->pdf_file);
    outputs_->pdf = std::make_unique<QPdfWriter>(outputs_->pdf_device.get());
    outputs_->pdf->setPageSize(QPageSize(QSizeF(w, h), QPageSize::Point, QString(), QPageSize::ExactMatch));
    outputs_->pdf->setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Point);
    outputs_->pdf->setResolution(300);
    outputs_->pdf->setCreator(QStringLiteral("crvanchor"));
    outputs_->pdf_painter = std::make_unique<QPainter>();
    if (!outputs_->pdf_painter->begin(outputs_->pdf.get())) {
        outputs_->ThrowIfPdfFailed();
        throw RenderError(path.string() + ": cannot start the PDF");
    }
    outputs_->pdf_has_page = false;
}

void BookRenderer::SetPngFolder(const std::filesystem::path& folder, double dotsPerInch, bool outline) {
    // Checked before the folder is made: a page that cannot be drawn leaves nothing behind.
    const HostState& s = outputs_->doc.Host().State();
    const double inches = 72.0 / PointsPerUnit(outputs_->doc.Units());
    const double w = std::round(s.page_width / inches * dotsPerInch);
    const double h = std::round(s.page_height / inches * dotsPerInch);
    if (!(w >= 1 && w <= kLargestPngPixels && h >= 1 && h <= kLargestPngPixels)) {
        throw RenderError("--png: a page of " + SizeText(s.page_width) + " x " + SizeText(s.page_height) + " " +
                          outputs_->doc.Units() + " at " + SizeText(dotsPerInch) + " dots per inch would be " +
                          SizeText(w) + " x " + SizeText(h) + " pixels; a page picture is 1 to 32767 pixels a side");
    }
    MakeOutputFolder("--png", folder);
    outputs_->png_folder = folder;
    outputs_->png_dpi = dotsPerInch;
    outputs_->png_outline = outline;
    outputs_->png_width = static_cast<int>(w);
    outputs_->png_height = static_cast<int>(h);
}

std::filesystem::path BookRenderer::PngPath(int32_t page) const {
    return outputs_->png_folder / commands::PagePictureName(page);
}

void BookRenderer::AddPage(int32_t page) {
    if (outputs_->pdf_painter) {
        if (outputs_->pdf_has_page) outputs_->pdf->newPage();
        outputs_->pdf_has_page = true;
        outputs_->Draw(*outputs_->pdf_painter, outputs_->pdf->width(), page);
        outputs_->ThrowIfPdfFailed();
    }
    if (!outputs_->png_folder.empty()) {
        QImage image(outputs_->png_width, outputs_->png_height, QImage::Format_RGB32);
        if (image.isNull()) throw RenderError(PngPath(page).string() + ": not enough memory for the page picture");
        image.fill(Qt::white);
        const int dpm = static_cast<int>(std::lround(outputs_->png_dpi / 0.0254));
        image.setDotsPerMeterX(dpm);
        image.setDotsPerMeterY(dpm);
        {
            QPainter p(&image);
            outputs_->Draw(p, outputs_->png_width, page);
            if (outputs_->png_outline) {
                DrawOutlines(p, outputs_->doc, outputs_->book, page,
                             outputs_->png_width / outputs_->doc.Host().State().page_width);
            }
        }
        // Encoded in memory, then replaced whole: a full disk leaves the former page as it was.
        QByteArray bytes;
        {
            QBuffer buffer(&bytes);
            buffer.open(QIODevice::WriteOnly);
            if (!image.save(&buffer, "PNG"))
                throw RenderError(PngPath(page).string() + ": cannot encode the page as PNG");
        }
        WriteFileAtomically(PngPath(page), std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())),
                            "Book");
    }
}

void BookRenderer::Finish() {
    if (outputs_->pdf_painter) {
        // A PDF needs a page; an empty book still gets a blank one.
        outputs_->pdf_has_page = true;
        const bool ended = outputs_->pdf_painter->end();
        outputs_->pdf_painter.reset();
        outputs_->pdf.reset();
        outputs_->ThrowIfPdfFailed();
        if (!ended) throw RenderError(outputs_->pdf_file->Destination().string() + ": cannot finish the PDF");
        outputs_->pdf_file->Commit();
        outputs_->pdf_device.reset();
        outputs_->pdf_file.reset();
    }
}

}  // namespace crv::standalone
