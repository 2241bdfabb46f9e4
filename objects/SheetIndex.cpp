#include "objects/SheetIndex.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace crv::objects {

namespace {

bool Meets(const Rect& r, const Rect& view) {
    // Written as the negation of "apart", so that a coordinate that is not a number meets all.
    return !(r.xmax < view.xmin || r.xmin > view.xmax || r.ymax < view.ymin || r.ymin > view.ymax);
}

bool Finite(const Rect& r) {
    return std::isfinite(r.xmin) && std::isfinite(r.ymin) && std::isfinite(r.xmax) && std::isfinite(r.ymax);
}

// A sheet spanning more buckets than this is tested on every query instead.
constexpr size_t kMostBucketsPerSheet = 64;
constexpr size_t kMostBucketsPerSide = 4096;

}  // namespace

SheetIndex::SheetIndex(const std::vector<Rect>& sheets) : count_(sheets.size()) {
    Rect extent;
    bool any = false;
    double widths = 0, heights = 0;
    size_t counted = 0;
    for (const Rect& r : sheets) {
        if (!Finite(r) || r.xmin > r.xmax || r.ymin > r.ymax) continue;
        if (!any) {
            extent = r;
            any = true;
        }
        extent = {std::min(extent.xmin, r.xmin), std::min(extent.ymin, r.ymin), std::max(extent.xmax, r.xmax),
                  std::max(extent.ymax, r.ymax)};
        widths += r.Width();
        heights += r.Height();
        ++counted;
    }
    if (!any || sheets.size() > UINT32_MAX / kMostBucketsPerSheet || !std::isfinite(extent.Width()) ||
        !std::isfinite(extent.Height())) {
        return;  // nothing to place in buckets: every query tests every sheet
    }
    // Buckets about the size of an average sheet, so that a sheet falls in a few of them.
    const auto side = [&](double span, double mean) {
        if (!(span > 0)) return size_t{1};
        // No more than about four buckets a sheet, whatever their sizes.
        const double bySqrt = std::sqrt(static_cast<double>(counted));
        const double byMean = mean > 0 ? span / mean : bySqrt;
        const double n = std::clamp(std::min(byMean, 2 * bySqrt), 1.0, static_cast<double>(kMostBucketsPerSide));
        return static_cast<size_t>(n);
    };
    const double n = static_cast<double>(counted);
    columns_ = side(extent.Width(), widths / n);
    rows_ = side(extent.Height(), heights / n);
    x0_ = extent.xmin;
    y0_ = extent.ymin;
    cellW_ = extent.Width() > 0 ? extent.Width() / static_cast<double>(columns_) : 1;
    cellH_ = extent.Height() > 0 ? extent.Height() / static_cast<double>(rows_) : 1;

    // Two passes: count each bucket's sheets, then place them.
    std::vector<uint32_t> counts(columns_ * rows_ + 1, 0);
    const auto span = [&](const Rect& r, auto&& visit) {
        const size_t c0 = Column(r.xmin), c1 = Column(r.xmax), r0 = Row(r.ymin), r1 = Row(r.ymax);
        for (size_t row = r0; row <= r1; ++row) {
            for (size_t col = c0; col <= c1; ++col) visit(row * columns_ + col);
        }
    };
    std::vector<bool> bucketed(sheets.size(), false);
    for (size_t i = 0; i < sheets.size(); ++i) {
        const Rect& r = sheets[i];
        if (!Finite(r) || r.xmin > r.xmax || r.ymin > r.ymax ||
            (Column(r.xmax) - Column(r.xmin) + 1) * (Row(r.ymax) - Row(r.ymin) + 1) > kMostBucketsPerSheet) {
            loose_.push_back(static_cast<uint32_t>(i));
            continue;
        }
        bucketed[i] = true;
        span(r, [&](size_t b) { ++counts[b + 1]; });
    }
    for (size_t b = 1; b < counts.size(); ++b) counts[b] += counts[b - 1];
    starts_ = counts;
    members_.resize(counts.back());
    for (size_t i = 0; i < sheets.size(); ++i) {
        if (bucketed[i]) span(sheets[i], [&](size_t b) { members_[counts[b]++] = static_cast<uint32_t>(i); });
    }
}

size_t SheetIndex::Column(double x) const {
    const double c = std::floor((x - x0_) / cellW_);
    if (!(c > 0)) return 0;
    return c >= static_cast<double>(columns_) ? columns_ - 1 : static_cast<size_t>(c);
}

size_t SheetIndex::Row(double y) const {
    const double r = std::floor((y - y0_) / cellH_);
    if (!(r > 0)) return 0;
    return r >= static_cast<double>(rows_) ? rows_ - 1 : static_cast<size_t>(r);
}

std::vector<size_t> SheetIndex::Meeting(const std::vector<Rect>& sheets, const Rect& view) const {
    if (sheets.size() != count_) throw std::logic_error("sheet index asked about other sheets");
    std::vector<size_t> out;
    if (!Finite(view) || view.xmin > view.xmax || view.ymin > view.ymax || columns_ == 0) {
        // Nothing a bucket could answer: test every sheet.
        for (size_t i = 0; i < sheets.size(); ++i) {
            if (Meets(sheets[i], view)) out.push_back(i);
        }
        return out;
    }
    for (size_t i : loose_) {
        if (Meets(sheets[i], view)) out.push_back(i);
    }
    const size_t c0 = Column(view.xmin), c1 = Column(view.xmax), r0 = Row(view.ymin), r1 = Row(view.ymax);
    for (size_t row = r0; row <= r1; ++row) {
        for (size_t col = c0; col <= c1; ++col) {
            const size_t b = row * columns_ + col;
            for (size_t k = starts_[b]; k < starts_[b + 1]; ++k) {
                if (Meets(sheets[members_[k]], view)) out.push_back(members_[k]);
            }
        }
    }
    // A sheet over several buckets was found in each of them.
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

}  // namespace crv::objects
