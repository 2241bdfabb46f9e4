#include "standalone/host/Objects.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

namespace crv::testing {
namespace {

using objects::Rect;
using objects::SeriesData;

// What the index must match: every sheet tested.
std::vector<size_t> FullScan(const std::vector<Rect>& sheets, const Rect& view) {
    std::vector<size_t> out;
    for (size_t i = 0; i < sheets.size(); ++i) {
        const Rect& r = sheets[i];
        if (r.xmax < view.xmin || r.xmin > view.xmax || r.ymax < view.ymin || r.ymin > view.ymax) continue;
        out.push_back(i);
    }
    return out;
}

std::vector<Rect> Grid(int columns, int rows, double size) {
    std::vector<Rect> sheets;
    for (int r = 0; r < rows; ++r) {
        for (int c = 0; c < columns; ++c) sheets.push_back({c * size, -r * size, (c + 1) * size, (1 - r) * size});
    }
    return sheets;
}

TEST(SheetIndex, FindsExactlyTheSheetsAFullScanFinds) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    std::mt19937 random(7);
    std::uniform_real_distribution<double> at(-500, 1500), size(0, 120);
    std::vector<Rect> scattered;
    for (int i = 0; i < 400; ++i) {
        const double x = at(random), y = at(random);
        scattered.push_back({x, y, x + size(random), y + size(random)});
    }
    // Sheets no bucket can hold: no geometry, not numbers, inside out, one over everything.
    std::vector<Rect> odd = Grid(10, 10, 1000);
    odd.insert(odd.begin() + 3, Rect{});
    odd.push_back({nan, 0, 10, 10});
    odd.push_back({0, -inf, 10, 10});
    odd.push_back({500, 500, 400, 400});
    odd.push_back({-1e6, -1e6, 1e6, 1e6});
    std::vector<Rect> points;
    for (int i = 0; i < 50; ++i) points.push_back({i * 3.0, i * 2.0, i * 3.0, i * 2.0});

    const struct {
        const char* name;
        std::vector<Rect> sheets;
    } sets[] = {{"grid", Grid(40, 25, 10000)},
                {"scattered", scattered},
                {"odd", odd},
                {"points", points},
                {"one", {Rect{5, 5, 6, 6}}},
                {"none", {}}};
    for (const auto& set : sets) {
        std::vector<Rect> views = {
            {-inf, -inf, inf, inf},   {nan, 0, 1, 1},       {10, 10, 0, 0},         {0, 0, 0, 0},
            {-1e9, -1e9, -1e8, -1e8}, {1e8, 1e8, 1e9, 1e9}, {-1e9, -1e9, 1e9, 1e9},
        };
        // Each sheet as the page shown, with a margin of its neighbours; edges that only touch.
        for (size_t i = 0; i < set.sheets.size(); i += 3) {
            const Rect& r = set.sheets[i];
            views.push_back(r);
            views.push_back(r.Grown(0.3 * std::max(r.Width(), r.Height())));
            views.push_back({r.xmax, r.ymin, r.xmax + 1, r.ymax});
            views.push_back({r.xmin - 2, r.ymax, r.xmin - 1, r.ymax + 5});
        }
        SeriesData data;
        data.envelopes = set.sheets;
        for (const Rect& view : views) {
            EXPECT_EQ(data.SheetsMeeting(view), FullScan(set.sheets, view))
                << set.name << " view " << view.xmin << " " << view.ymin << " " << view.xmax << " " << view.ymax;
        }
        // Envelopes replaced after a first look are indexed anew.
        data.envelopes.push_back({0, 0, 1, 1});
        EXPECT_EQ(data.SheetsMeeting({0, 0, 1, 1}), FullScan(data.envelopes, {0, 0, 1, 1})) << set.name;
    }
}

}  // namespace
}  // namespace crv::testing
