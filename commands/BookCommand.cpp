#include "commands/BookCommand.h"

#include "support/Errors.h"
#include "support/MessageText.h"

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <iostream>
#include <stdexcept>
#include <system_error>

namespace crv::commands {

using namespace crv::book;
using support::Fixed;
using support::QuotedValue;


std::string BookSummary(const std::string& what, size_t pages, size_t anchored, const BookOutputs& outputs) {
    std::string text = "Map book " + what + ": " + std::to_string(pages) + (pages == 1 ? " page" : " pages") + ", " +
                       std::to_string(anchored) + " anchored elements\n";
    if (outputs.pdf) text += "  PDF: " + outputs.pdf->string() + "\n";
    if (outputs.png) text += "  PNG: " + outputs.png->string() + "/page-NNN.png\n";
    if (outputs.report) text += "  report: " + outputs.report->string() + "\n";
    if (outputs.save) text += "  saved: " + outputs.save->string() + "\n";
    return text;
}

int StatusAfterReports(const char* program, int reportsShown, int status, std::ostream& err) {
    if (reportsShown <= 0) return status;
    err << program << ": " << reportsShown << (reportsShown == 1 ? " error report" : " error reports") << " shown\n";
    return 1;
}

double ParseDpi(const std::string& text) {
    double d = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), d);
    if (ec != std::errc() || end != text.data() + text.size() || !(d >= kMinDpi && d <= kMaxDpi))
        throw std::invalid_argument("--dpi: expected a number from " + std::to_string(static_cast<int>(kMinDpi)) +
                                    " to " + std::to_string(static_cast<int>(kMaxDpi)) + ", found " +
                                    QuotedValue(text));
    return d;
}

std::string TimingLine(const BookTiming& t) {
    const double each = t.placements == 0 ? 0.0 : t.anchoring * 1e6 / static_cast<double>(t.placements);
    return "  timing: total " + Fixed(t.total, 4) + " s; loading " + Fixed(t.loading, 4) + " s; anchoring " +
           Fixed(t.anchoring, 4) + " s (" + std::to_string(t.placements) + " placements, " + Fixed(each, 2) +
           " us each); report " + Fixed(t.reporting, 4) + " s; rendering " + Fixed(t.rendering, 4) +
           " s; anchoring is " + Fixed(t.total > 0 ? 100.0 * t.anchoring / t.total : 0.0, 1) + "% of the run\n";
}

Progress::Progress(std::ostream& err, size_t total)
    : err_(err), total_(total), on_(&err == &std::cerr && ::isatty(STDERR_FILENO) == 1) {}

void Progress::Step(size_t done, int32_t page) {
    if (!on_) return;
    constexpr size_t kWidth = 30;
    const size_t filled = total_ == 0 ? kWidth : done * kWidth / total_;
    err_ << "\r[" << std::string(filled, '#') << std::string(kWidth - filled, '.') << "] " << done << "/" << total_
         << " page " << page << "   " << std::flush;
}

void Progress::Done() {
    if (on_) err_ << "\n" << std::flush;
}

void TellSelection(const AnchorSelection& selection, const char* program, std::ostream& err) {
    for (const auto& left : selection.LeftOutElements()) {
        err << program << ": " << QuotedValue(left.name) << " is left out of the book: " << left.reason
            << "\n";
    }
    for (const std::string& note : selection.RecordNotes()) err << program << ": " << note << "\n";
}

int TellBookEnd(const BookDriver& driver, const BookEnd& end, std::ostream& out, std::ostream& err) {
    for (const std::string& line : driver.Checks().Lines()) err << end.program << ": " << line << "\n";
    const size_t pages = driver.Cursor().Count();
    const size_t anchored = driver.Selection().Elements().size();
    out << BookSummary(end.what, pages, anchored, end.outputs);
    if (end.timing) {
        const BookEnd::Timing& t = *end.timing;
        const DriverTimes& d = driver.Times();
        const double rendering = t.rendering.value_or(std::max(0.0, t.total - t.loading - d.anchoring - d.reporting));
        out << TimingLine({t.total, t.loading, d.anchoring, d.reporting, rendering, pages * anchored});
    }
    return end.strict && !driver.Checks().Empty() ? 1 : 0;
}

}  // namespace crv::commands
