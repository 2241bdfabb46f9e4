#include "support/CommandLine.h"

#include "support/Errors.h"
#include "support/MessageText.h"

#include <charconv>
#include <iomanip>
#include <iostream>
#include <sstream>
#include <stdexcept>
#include <system_error>

namespace crv::support {

namespace fs = std::filesystem;

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

namespace {

std::string Fixed(double v, int decimals) {
    std::ostringstream s;
    s << std::fixed << std::setprecision(decimals) << v;
    return s.str();
}

}  // namespace

std::string TimingLine(const BookTiming& t) {
    const double each = t.placements == 0 ? 0.0 : t.anchoring * 1e6 / static_cast<double>(t.placements);
    return "  timing: total " + Fixed(t.total, 4) + " s; loading " + Fixed(t.loading, 4) + " s; anchoring " +
           Fixed(t.anchoring, 4) + " s (" + std::to_string(t.placements) + " placements, " + Fixed(each, 2) +
           " us each); report " + Fixed(t.reporting, 4) + " s; rendering " + Fixed(t.rendering, 4) +
           " s; anchoring is " + Fixed(t.total > 0 ? 100.0 * t.anchoring / t.total : 0.0, 1) + "% of the run\n";
}

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

}  // namespace crv::support
