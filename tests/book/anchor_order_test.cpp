// Elements anchored to elements that are themselves anchored: the book places a target before
// what is placed against it, so a page comes out the same whichever pages ran before it, and
// refuses cycles of anchors, naming them, while it places everything else.

#include "anchor/AnchorRecord.h"
#include "anchor/CRVAnchorManager.h"
#include "anchor/GeneralFunctions.h"
#include "errors/ErrorHandling.h"
#include "standalone/mapbook/Book.h"
#include "standalone/cli/Cli.h"
#include "standalone/document/Document.h"
#include "support/Activation.h"
#include "standalone/tools/Registration.h"

#include "standalone/ComponentRegistry.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <sstream>

namespace crv::testing {
namespace {

namespace fs = std::filesystem;
using objects::Rect;

// The record keys a case sets on one element; the rest keep the defaults of a new record.
struct Anchor {
    std::string element;
    std::string target;  // "" for the page
    int16_t priority = kPriorityMedium;
    int16_t from = 0;  // Top Left
    int16_t to = 0;
    double h = 0;
    double v = 0;
    std::optional<double> evenH{};  // on even pages the alternate rule, with this h
};

// A six-page map book on an 8 x 6 page; `elements` is the JSON array of the layout's
// elements after the map frame, which sits at the bottom out of the way.
fs::path WriteBook(const TempDir& dir, const std::string& elements) {
    std::string features;
    for (int i = 0; i < 6; ++i) {
        const std::string x0 = std::to_string(i), x1 = std::to_string(i + 1);
        features += std::string(i ? "," : "") + R"({"type": "Feature", "properties": {}, "geometry": {"type": "Polygon",
          "coordinates": [[[)" +
                    x0 + ", 0], [" + x1 + ", 0], [" + x1 + ", 1], [" + x0 + ", 1], [" + x0 + ", 0]]]}}";
    }
    WriteText(dir / "sheets.geojson", R"({"type": "FeatureCollection", "features": [)" + features + "]}");
    WriteText(dir / "book.json", R"({"format": "crvanchor-document", "version": 1, "page": {"width": 8, "height": 6},
      "elements": [{"type": "map_frame", "name": "Map", "outline": [6, 0.2, 7.8, 1], "series": {"dataset": "sheets.geojson"}},
      )" + elements + "]}");
    return dir / "book.json";
}

std::string TextElement(const std::string& name, const Rect& r) {
    std::ostringstream s;
    s << R"({"type": "text", "name": ")" << name << R"(", "rect": [)" << r.xmin << ", " << r.ymin << ", " << r.xmax
      << ", " << r.ymax << "]}";
    return s.str();
}

ComPtr<LayoutElement> Named(standalone::StandaloneHost& host, const std::string& name) {
    ComPtr<LayoutElement> found;
    standalone::WalkElements(host.State().elements, [&](const ComPtr<LayoutElement>& e, const std::string&) {
        if (!found && standalone::StandaloneHost::ElementOf(e).name() == name) found = e;
    });
    return found;
}

// The document loaded, with the records of a case written on its elements in place.
struct Loaded {
    standalone::StandaloneHost host;
    standalone::Document doc{host};

    Loaded(const fs::path& path, const std::vector<Anchor>& anchors) {
        doc.Load(path);
        auto manager = CreateObjectByProgId<_CRVAnchorManager>(support::kAnchorManagerProgId);
        for (const Anchor& a : anchors) {
            const ComPtr<LayoutElement> e = Named(host, a.element);
            if (!e) throw std::runtime_error("no element " + a.element);
            manager->AddAnchorProperties(e, manager->MakeAnchorProperties());
            const ComPtr<PropertyBag> r = GeneralFunctions::GetAnchorProperties(e);
            r->SetProperty(key::AnchorElement, Variant(true));
            r->SetProperty(key::AnchorType, Variant(a.target.empty() ? kAnchorTypeLayout : kAnchorTypeNamedElement));
            r->SetProperty(key::ElementName, Variant(a.target.empty() ? std::string(kNone) : a.target));
            r->SetProperty(key::AnchorPriority, Variant(a.priority));
            r->SetProperty(key::AnchorFromAll, Variant(a.from));
            r->SetProperty(key::AnchorToAll, Variant(a.to));
            r->SetProperty(key::HDistanceAll, Variant(a.h));
            r->SetProperty(key::VDistanceAll, Variant(a.v));
            if (a.evenH) {
                r->SetProperty(key::UseAltAnchoring, Variant(true));
                r->SetProperty(key::AltAnchorType, Variant(kAltEvenPages));
                r->SetProperty(key::AnchorFromAlt, Variant(a.from));
                r->SetProperty(key::AnchorToAlt, Variant(a.to));
                r->SetProperty(key::HDistanceAlt, Variant(*a.evenH));
                r->SetProperty(key::VDistanceAlt, Variant(a.v));
            }
        }
    }
    std::map<std::string, Rect> Rects() {
        std::map<std::string, Rect> out;
        standalone::WalkElements(host.State().elements, [&](const ComPtr<LayoutElement>& e, const std::string&) {
            out[standalone::StandaloneHost::ElementOf(e).name()] = standalone::StandaloneHost::ExtentOf(e);
        });
        return out;
    }
};

std::string Shown(const Rect& r) {
    std::ostringstream s;
    s << "(" << r.xmin << ", " << r.ymin << ")-(" << r.xmax << ", " << r.ymax << ")";
    return s.str();
}

::testing::AssertionResult Near(const Rect& got, const Rect& want) {
    const double worst = std::max({std::fabs(got.xmin - want.xmin), std::fabs(got.ymin - want.ymin),
                                   std::fabs(got.xmax - want.xmax), std::fabs(got.ymax - want.ymax)});
    if (worst <= 1e-9) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << Shown(got) << " instead of " << Shown(want);
}

// A chain: "Far" hangs below "Mid", which hangs below "Near", which is anchored to the page, 1
// in from the top left on odd pages and 3 in on even ones. Whatever the priorities and the
// container order, page 5 is the same whether pages 1 to 5 ran before or page 5 alone, and it
// is where the chain's rules put it.
TEST(AnchorOrder, AChainInAnyOrderGivesThePageItsOwnRulesWhateverPagesRanBefore) {
    RegisterComponentOnce();
    RecordingErrorSink sink;
    ScopedErrorSink scope(sink);
    const std::vector<std::string> chain = {"Near", "Mid", "Far"};
    // Where the elements stand before the book: apart, and nowhere near their places.
    const std::map<std::string, Rect> start = {
        {"Near", {5, 5, 6, 5.5}}, {"Mid", {6.5, 3, 7.5, 3.5}}, {"Far", {3, 1.5, 4, 2}}};
    const std::map<std::string, Rect> page5 = {
        {"Near", {1, 4.5, 2, 5}}, {"Mid", {1, 3.75, 2, 4.25}}, {"Far", {1, 3, 2, 3.5}}};
    std::vector<std::vector<int16_t>> priorities = {{kPriorityMedium, kPriorityMedium, kPriorityMedium}};
    std::vector<int16_t> p = {kPriorityLow, kPriorityMedium, kPriorityHigh};
    do priorities.push_back(p);
    while (std::next_permutation(p.begin(), p.end()));
    std::vector<std::string> containerOrder = chain;
    std::sort(containerOrder.begin(), containerOrder.end());
    int cases = 0;
    do {
        std::string elements;
        for (const auto& name : containerOrder) {
            elements += (elements.empty() ? "" : ", ") + TextElement(name, start.at(name));
        }
        TempDir dir;
        const fs::path book = WriteBook(dir, elements);
        for (const auto& pr : priorities) {
            const std::vector<Anchor> anchors = {
                {"Near", "", pr[0], 0, 0, 1, -1, 3},
                {"Mid", "Near", pr[1], 0, 6, 0, -0.25, std::nullopt},
                {"Far", "Mid", pr[2], 0, 6, 0, -0.25, std::nullopt},
            };
            std::string what = "container order";
            for (const auto& n : containerOrder) what += " " + n;
            what += ", priorities (LOW 0, HIGH 2) of Near, Mid, Far: " + std::to_string(pr[0]) + " " +
                    std::to_string(pr[1]) + " " + std::to_string(pr[2]);
            SCOPED_TRACE(what);
            ++cases;

            Loaded all(book, anchors);
            standalone::DocumentBook allBook(all.doc);
            EXPECT_EQ(allBook.driver.AnchorOrder(), (std::vector<std::string>{"Near", "Mid", "Far"}));
            EXPECT_TRUE(allBook.driver.Selection().LeftOutElements().empty());
            for (int32_t page = 1; page <= 5; ++page) allBook.driver.PlacePage(page);
            Loaded alone(book, anchors);
            standalone::DocumentBook aloneBook(alone.doc);
            aloneBook.driver.PlacePage(5);
            const auto a = all.Rects();
            const auto b = alone.Rects();
            for (const auto& name : chain) {
                EXPECT_TRUE(Near(a.at(name), page5.at(name))) << name << " after pages 1-5";
                EXPECT_TRUE(Near(b.at(name), page5.at(name))) << name << " after page 5 alone";
            }
            // Page 4, an even page, moves the whole chain along.
            allBook.driver.PlacePage(4);
            EXPECT_TRUE(Near(all.Rects().at("Far"), {3, 3, 4, 3.5}));
        }
    } while (std::next_permutation(containerOrder.begin(), containerOrder.end()));
    EXPECT_EQ(cases, 42);
    for (const auto& r : sink.reports) ADD_FAILURE() << r.text;
}

// The order given stands wherever it already places targets first; otherwise each element
// waits only for what it depends on, groups included.
TEST(AnchorOrder, KeepsThePriorityOrderWhereverItRespectsDependencies) {
    RegisterComponentOnce();
    RecordingErrorSink sink;
    ScopedErrorSink scope(sink);
    const std::string flat = TextElement("A", {0, 0, 1, 0.5}) + ", " + TextElement("B", {1, 0, 2, 0.5}) + ", " +
                             TextElement("C", {2, 0, 3, 0.5}) + ", " + TextElement("D", {3, 0, 4, 0.5});
    const std::string grouped = R"({"type": "group", "name": "G", "members": [)" + TextElement("M", {0, 2, 1, 2.5}) +
                                ", " + TextElement("N", {1, 2, 2, 2.5}) + "]}, " + flat;
    const int16_t H = kPriorityHigh, M = kPriorityMedium, L = kPriorityLow;
    const struct {
        const char* what;
        const std::string& layout;
        std::vector<Anchor> anchors;
        std::vector<std::string> order;
    } cases[] = {
        {"independent, by priority",
         flat,
         {{"A", "", L}, {"B", "", H}, {"C", "", M}, {"D", "", H}},
         {"B", "D", "C", "A"}},
        {"targets already first",
         flat,
         {{"A", "B", L}, {"B", "", H}, {"C", "A", L}, {"D", "", M}},
         {"B", "D", "A", "C"}},
        {"a target later in container order", flat, {{"A", "B", M}, {"B", "", M}, {"D", "", M}}, {"B", "A", "D"}},
        {"a target of lower priority waits; the rest keep their order",
         flat,
         {{"A", "C", H}, {"D", "", H}, {"B", "", M}, {"C", "", L}},
         {"D", "B", "C", "A"}},
        {"a group as target waits for its anchored members",
         grouped,
         {{"A", "G", H}, {"N", "", L}, {"B", "", M}},
         {"B", "N", "A"}},
        {"a member as target waits for its anchored group",
         grouped,
         {{"A", "M", H}, {"G", "B", L}, {"B", "", L}},
         {"B", "G", "A"}},
        {"an anchored member waits for its anchored group, which carries it",
         grouped,
         {{"N", "", H}, {"B", "", M}, {"G", "", L}},
         {"B", "G", "N"}},
    };
    for (const auto& c : cases) {
        TempDir dir;
        Loaded loaded(WriteBook(dir, c.layout), c.anchors);
        standalone::DocumentBook book(loaded.doc);
        EXPECT_EQ(book.driver.AnchorOrder(), c.order) << c.what;
        EXPECT_TRUE(book.driver.Selection().LeftOutElements().empty()) << c.what;
    }
    for (const auto& r : sink.reports) ADD_FAILURE() << r.text;
}

// Every shape of cycle is named in order from its element placed first, its elements stay
// where they stand page after page, and everything else is placed, an element anchored to a
// cycle's element included (against where that stands).
TEST(AnchorOrder, EveryCycleIsNamedItsElementsStayAndTheRestIsPlaced) {
    RegisterComponentOnce();
    RecordingErrorSink sink;
    ScopedErrorSink scope(sink);
    const std::string texts = TextElement("A", {0, 5, 1, 5.5}) + ", " + TextElement("B", {2, 5, 3, 5.5}) + ", " +
                              TextElement("C", {4, 5, 5, 5.5}) + ", " + TextElement("Free", {0, 0, 1, 0.5}) + ", " +
                              TextElement("Follower", {1, 0, 2, 0.5});
    const std::string group = R"({"type": "group", "name": "G", "members": [)" + TextElement("M", {2, 2, 3, 2.5}) +
                              ", " + TextElement("N", {3, 2.5, 4, 3}) + "]}, " + texts;
    // Free goes 1 in from the top left of the page; Follower right under A.
    const Anchor free{"Free", "", kPriorityMedium, 0, 0, 1, -1};
    const Anchor follower{"Follower", "A", kPriorityLow, 0, 6, 0, -0.5};
    const int16_t H = kPriorityHigh, M = kPriorityMedium, L = kPriorityLow;
    const struct {
        const char* what;
        const std::string& layout;
        std::vector<Anchor> anchors;
        std::map<std::string, std::string> cycles;  // element -> the cycle it is reported in
    } cases[] = {
        {"self", texts, {{"A", "A", M, 0, 0, 0.5, 0}}, {{"A", R"("A" → "A")"}}},
        {"two",
         texts,
         {{"A", "B", M, 0, 6, 0, -1}, {"B", "A", M, 0, 6, 0, -1}},
         {{"A", R"("A" → "B" → "A")"}, {"B", R"("A" → "B" → "A")"}}},
        {"three, named from the one placed first",
         texts,
         {{"A", "B", L, 0, 6, 0, -1}, {"B", "C", H, 0, 6, 0, -1}, {"C", "A", M, 0, 6, 0, -1}},
         {{"A", R"("B" → "C" → "A" → "B")"}, {"B", R"("B" → "C" → "A" → "B")"}, {"C", R"("B" → "C" → "A" → "B")"}}},
        {"two, with a third hanging on",
         texts,
         {{"A", "B", M, 0, 6, 0, -1}, {"B", "A", M, 0, 6, 0, -1}, {"C", "B", H, 0, 6}},
         {{"A", R"("A" → "B" → "A")"}, {"B", R"("A" → "B" → "A")"}}},
        {"a group anchored to its own member",
         group,
         {{"G", "M", M, 0, 8, 0.25, 0}},
         {{"G", R"("G" → "M" → its group "G")"}}},
        {"a member anchored to its own group",
         group,
         {{"M", "G", M, 8, 0, 0.25, 0}},
         {{"M", R"("M" → "G" → its member "M")"}}},
        {"through a group's extent",
         group,
         {{"A", "G", H, 0, 6, 0, -1}, {"N", "A", M, 0, 6, 0, -1}},
         {{"A", R"("A" → "G" → its member "N" → "A")"}, {"N", R"("A" → "G" → its member "N" → "A")"}}},
        {"a member of a group anchored to that member",
         group,
         {{"G", "M", M, 0, 8, 0.25, 0}, {"M", "", H, 0, 0, 1, -1}},
         {{"G", R"("G" → "M" → its group "G")"}, {"M", R"("M" → its group "G" → "M")"}}},
        {"through a group that moves the target",
         group,
         {{"A", "M", H, 0, 6, 0, -1}, {"G", "A", M, 0, 6, 0, -1}},
         {{"A", R"("A" → "M" → its group "G" → "A")"}, {"G", R"("A" → "M" → its group "G" → "A")"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        std::vector<Anchor> anchors = c.anchors;
        anchors.push_back(free);
        anchors.push_back(follower);
        Loaded loaded(WriteBook(dir, c.layout), anchors);
        const auto before = loaded.Rects();
        standalone::DocumentBook book(loaded.doc);
        std::map<std::string, std::string> reported;
        std::map<std::string, std::string> named;  // each cycle, by the element whose reason names it
        for (const auto& left : book.driver.Selection().LeftOutElements()) {
            if (!named.count(left.cycle)) named[left.cycle] = left.name;
            EXPECT_EQ(left.reason, named[left.cycle] == left.name
                                       ? "it is in a cycle of anchors: " + left.cycle
                                       : "it is in the same cycle of anchors as \"" + named[left.cycle] + "\"");
            EXPECT_EQ(reported.count(left.name), 0u) << left.name << " reported twice";
            reported[left.name] = left.cycle;
        }
        EXPECT_EQ(reported, c.cycles);
        for (int32_t page = 1; page <= 4; ++page) book.driver.PlacePage(page);
        const auto after = loaded.Rects();
        for (const auto& [name, cycle] : c.cycles) {
            EXPECT_TRUE(Near(after.at(name), before.at(name))) << name << " moved";
            for (const auto& e : book.driver.AnchorOrder()) EXPECT_NE(e, name);
        }
        EXPECT_TRUE(Near(after.at("Free"), {1, 4.5, 2, 5}));
        const Rect a = after.at("A");
        EXPECT_TRUE(Near(after.at("Follower"), {a.xmin, a.ymin - 1, a.xmin + 1, a.ymin - 0.5}));
    }
    for (const auto& r : sink.reports) ADD_FAILURE() << r.text;
}

// A name can stand more than once (a host's items need not be named apart); a target is the
// element the engine's lookup finds: the first in container order, each group followed by its
// direct members, never a member of a member. "A" is anchored to "Twin"; the one element named
// "Twin" that is anchored back to "A" closes a cycle only when it is that element, both for
// `show` (AnchorCycles) and for the book (AnchorSelection).
TEST(AnchorOrder, ATargetNamedTwiceIsTheOneTheEngineFinds) {
    RegisterComponentOnce();
    struct Node {
        std::string name;
        bool back = false;  // anchored back to "A"
        std::vector<Node> members{};
        standalone::ElementKind kind = standalone::ElementKind::Group;
    };
    const Node twin{"Twin"}, back{"Twin", true};
    const Node other{"Other", false, {twin}};
    const auto walked = standalone::ElementKind::Group, indexed = standalone::ElementKind::IndexedGroup;
    const std::string cycle = R"("A" → "Twin" → "A")";
    const std::string missing = R"(its target "Twin" is not in the layout)";
    const struct {
        const char* what;
        std::vector<Node> layout;  // after "A"
        std::string leftOut;  // "" none; else why "A" is left out of the book
    } cases[] = {
        {"two on top, the first anchored back", {back, twin}, cycle},
        {"two on top, the second anchored back", {twin, back}, ""},
        {"a walked member before one on top", {{"G", false, {back}, walked}, twin}, cycle},
        {"one on top before a walked member", {twin, {"G", false, {back}, walked}}, ""},
        {"an indexed member before one on top", {{"G", false, {back}, indexed}, twin}, cycle},
        {"one on top after the indexed member anchored back", {{"G", false, {twin}, indexed}, back}, ""},
        {"a member of a member is passed over", {{"G", false, {{"H", false, {back}}}}, twin}, ""},
        {"the member of a member passed over, the one on top found", {{"G", false, {other}}, back}, cycle},
        {"only a member of a member", {{"G", false, {{"H", false, {back}}}}}, missing},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        RecordingErrorSink sink;
        ScopedErrorSink scope(sink);
        standalone::StandaloneHost host;
        auto manager = CreateObjectByProgId<_CRVAnchorManager>(support::kAnchorManagerProgId);
        auto anchor = [&](const ComPtr<LayoutElement>& e, const std::string& target) {
            manager->AddAnchorProperties(e, manager->MakeAnchorProperties());
            const ComPtr<PropertyBag> r = GeneralFunctions::GetAnchorProperties(e);
            r->SetProperty(key::AnchorElement, Variant(true));
            r->SetProperty(key::AnchorType, Variant(kAnchorTypeNamedElement));
            r->SetProperty(key::ElementName, Variant(target));
        };
        anchor(host.AddText("A", {0, 0, 1, 1}), "Twin");
        std::function<ComPtr<LayoutElement>(const Node&)> make = [&](const Node& n) {
            auto e = host.Make(n.members.empty() ? standalone::ElementKind::Text : n.kind, n.name, {2, 2, 3, 3});
            for (const Node& m : n.members) standalone::StandaloneHost::ElementOf(e).AddMember(make(m));
            if (n.back) anchor(e, "A");
            return e;
        };
        for (const Node& n : c.layout) host.Add(make(n));

        std::vector<std::string> shown;
        for (const auto& [e, text] : book::AnchorCycles(RunningApplication()->Document()->PageLayout()))
            shown.push_back(e->Name() + ": " + text);
        std::vector<std::string> want;
        if (c.leftOut == cycle) want = {"A: " + cycle, "Twin: " + cycle};
        EXPECT_EQ(shown, want);

        book::AnchorSelection selection(
            [] { return CreateObjectByProgId<_CRVAnchorManager>(support::kAnchorManagerProgId); });
        std::vector<std::string> left;
        for (const auto& l : selection.LeftOutElements()) left.push_back(l.name + ": " + l.reason);
        want.clear();
        if (c.leftOut == cycle)
            want = {"A: it is in a cycle of anchors: " + cycle, "Twin: it is in the same cycle of anchors as \"A\""};
        if (c.leftOut == missing) want = {"A: " + missing};
        EXPECT_EQ(left, want);
        EXPECT_EQ(sink.reports.size(), c.leftOut == missing ? 1u : 0u);
    }
}

struct CommandRun {
    int status;
    std::string out;
    std::string err;
};

CommandRun Crv(const std::vector<std::string>& args) {
    RegisterComponentOnce();
    std::ostringstream out, err;
    ::testing::internal::CaptureStderr();
    const int status = standalone::RunCrvAnchor(args, out, err);
    const std::string reports = ::testing::internal::GetCapturedStderr();
    return {status, out.str(), err.str() + reports};
}

// The commands a user runs: `show` marks the elements of a cycle without placing anything,
// `book` names each once on standard error, places the rest, and finishes.
TEST(AnchorOrder, ShowMarksACycleAndBookNamesEachOfItsElementsOnce) {
    TempDir dir;
    const fs::path book =
        WriteBook(dir, TextElement("Title", {0, 5, 3, 5.5}) + ", " + TextElement("Legend", {4, 5, 6, 5.5}) + ", " +
                           TextElement("Note", {0, 0, 1, 0.5}));
    const std::string doc = book.string();
    for (const auto& [element, target] : {std::pair{"Title", "Legend"}, {"Legend", "Title"}, {"Note", "Title"}}) {
        ASSERT_EQ(Crv({"anchor", doc, element, "AnchorElement=true", "AnchorType=NamedElement",
                       std::string("ElementName=") + target, "AnchorToAll=Bottom Left", "VDistanceAll=-1"})
                      .status,
                  0);
    }
    const CommandRun show = Crv({"show", doc});
    EXPECT_EQ(show.status, 0) << show.err;
    const std::string cycle = R"("Title" → "Legend" → "Title")";
    EXPECT_NE(show.out.find("\n\n\"Title\" is in a cycle of anchors: " + cycle +
                            "; the book leaves it where it stands\n\"Legend\" is in the same cycle of anchors as "
                            "\"Title\"; the book leaves it where it stands\n"),
              std::string::npos)
        << show.out;
    EXPECT_EQ(show.out.find("\"Note\" is in a cycle"), std::string::npos) << show.out;

    const CommandRun run = Crv({"book", doc, "--report", (dir / "r.json").string()});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "crvanchor: \"Title\" is left out of the book: it is in a cycle of anchors: " + cycle +
                           "\ncrvanchor: \"Legend\" is left out of the book: it is in the same cycle of anchors as "
                           "\"Title\"\n");
    EXPECT_NE(run.out.find("6 pages, 1 anchored elements"), std::string::npos) << run.out;
    // In the report as the document format tells: not in the order, and not anchored on any page.
    const auto report = nlohmann::json::parse(ReadText(dir / "r.json"));
    EXPECT_EQ(report["anchor_order"], nlohmann::json::array({"Note"}));
    for (const auto& page : report["pages"]) {
        for (const auto& e : page["elements"]) {
            if (e["name"] == "Map") continue;
            const bool leftOut = e["name"] != "Note";
            EXPECT_EQ(e["anchored"], !leftOut) << e;
            EXPECT_EQ(e["priority"].is_null(), leftOut) << e;
        }
    }
}

}  // namespace
}  // namespace crv::testing

namespace crv::testing {
namespace {

// A cycle is named once, and a long one by its ends: 200 elements anchored each to the next
// give a few kilobytes on standard error, and in `show`, not one copy of the whole cycle per
// element.
TEST(AnchorOrder, ALongCycleIsNamedOnceByItsEnds) {
    RegisterComponentOnce();
    TempDir dir;
    std::string elements;
    std::vector<Anchor> anchors;
    for (int i = 1; i <= 200; ++i) {
        // Built by appending: GCC 12 misreads a join of two temporaries as overlapping copies.
        std::string name = "E", next = "E";
        name += std::to_string(i);
        next += std::to_string(i % 200 + 1);
        elements += (i > 1 ? ", " : "") + TextElement(name, {0, 0, 1, 0.5});
        anchors.push_back({name, next, kPriorityMedium, 0, 6, 0, -1});
    }
    const fs::path path = WriteBook(dir, elements);
    Loaded(path, anchors).doc.Save(path);
    const CommandRun run = Crv({"book", path.string()});
    EXPECT_EQ(run.status, 0);
    std::vector<std::string> lines;
    for (std::istringstream in(run.err); std::getline(in, lines.emplace_back());) {}
    lines.pop_back();
    ASSERT_EQ(lines.size(), 200u) << run.err.substr(0, 2000);
    const std::string cycle = R"(it is in a cycle of anchors: "E1" → "E2" → "E3" → "E4" → "E5" → "E6" → "E7" → )"
                              R"("E8" → "E9" → "E10" → … → "E199" → "E200" → "E1" (200 elements))";
    EXPECT_EQ(lines[0], R"(crvanchor: "E1" is left out of the book: )" + cycle);
    EXPECT_EQ(lines[199], R"(crvanchor: "E200" is left out of the book: it is in the same cycle of anchors as "E1")");

    const CommandRun show = Crv({"show", path.string()});
    EXPECT_EQ(show.status, 0);
    const std::string tail = "; the book leaves it where it stands\n";
    EXPECT_NE(show.out.find("\n\"E1\" is in a cycle" + cycle.substr(cycle.find(" of anchors")) + tail),
              std::string::npos);
    EXPECT_NE(show.out.find("\n\"E200\" is in the same cycle of anchors as \"E1\"" + tail), std::string::npos);
    size_t cycleBytes = 0;  // the whole cycle at every element was 38 KB; the book's lines are 18 KB
    for (std::istringstream in(show.out); std::getline(in, lines.emplace_back());) {
        if (lines.back().find(" cycle of anchors") != std::string::npos) cycleBytes += lines.back().size() + 1;
    }
    EXPECT_LT(cycleBytes, 20000u);
}

// `anchor` saves a record that puts its element in a cycle, as asked, and says so.
TEST(AnchorOrder, AnchorSavesARecordThatMakesACycleAndSaysSo) {
    TempDir dir;
    const std::string group = R"({"type": "group", "name": "G", "members": [)" + TextElement("M", {2, 2, 3, 2.5}) +
                              "]}, " + TextElement("A", {0, 5, 1, 5.5});
    const std::string doc = WriteBook(dir, group).string();
    const std::string book = "; the book leaves it where it stands\n";
    const struct {
        const char* element;
        const char* target;
        std::string warning;
    } cases[] = {
        {"A", "A", R"(crvanchor: "A" is in a cycle of anchors: "A" → "A")" + book},
        {"G", "M", R"(crvanchor: "G" is in a cycle of anchors: "G" → "M" → its group "G")" + book},
        {"A", "M", ""},
    };
    for (const auto& c : cases) {
        const CommandRun run = Crv({"anchor", doc, c.element, "AnchorElement=true", "AnchorType=NamedElement",
                                    std::string("ElementName=") + c.target});
        EXPECT_EQ(run.status, 0) << c.element;
        EXPECT_EQ(run.err, c.warning);
        EXPECT_NE(run.out.find("; saved " + doc), std::string::npos) << run.out;
    }
}

}  // namespace
}  // namespace crv::testing
