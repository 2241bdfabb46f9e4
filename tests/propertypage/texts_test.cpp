// The form's fixed texts are the system's own, misspellings included: users and their
// documentation refer to them as they stand.
#include "PageFixture.h"

#include <QGroupBox>
#include <QLabel>

#include <set>

namespace crv::testing {
namespace {

class TextsTest : public PageTest {};

TEST_F(TextsTest, ControlsCarryTheirNamesAndTexts) {
    auto element = host_.AddText("Title", {1, 2, 3, 4});
    GiveRecord(element, {});
    Open(element);
    const std::pair<const char*, const char*> buttons[] = {
        {"chkAnchor", "Anchor this element to the:"},
        {"OptAnchorTo_0", "Page"},
        {"OptAnchorTo_1", "Page Element:"},
        {"optMultiPage_0", "Use the same anchor settings on all pages"},
        {"optMultiPage_1", "Use alternate anchor settings for:"},
        {"chkHDistanceFieldAll", "Get disatance from field:"},
        {"chkVDistanceFieldAlt", "Get disatance from field:"},
        {"cmdGetCurrentXYPrimary", "Get Current X and Y Distances"},
        {"cmdGetCurrentXYAlternate", "Get Current X and Y Distances"},
        {"cmdMakeHorizontalOpposite", "Setup as Horizontal Opposite of Primary"},
    };
    for (const auto& [name, text] : buttons) EXPECT_EQ(S(Find<QAbstractButton>(name)->text()), text) << name;
    EXPECT_EQ(S(Find<QWidget>("cmdGetCurrentXYAlternate")->toolTip()),
              "Gets the current X and Y distances between the element and the point it is anchored to.");
    const std::pair<const char*, const char*> frames[] = {
        {"framePageScale", "Multi-Page Settings"}, {"Frame2", "Horizontal Positioning ( X )"},
        {"Frame3", "Vertical Positioning ( Y )"},  {"Frame4", "Horizontal Positioning ( X )"},
        {"Frame5", "Vertical Positioning ( Y )"},
    };
    for (const auto& [name, title] : frames) EXPECT_EQ(S(Find<QGroupBox>(name)->title()), title) << name;
    std::vector<std::string> tabs;
    for (int i = 0; i < Tabs()->count(); ++i) tabs.push_back(S(Tabs()->tabText(i)));
    EXPECT_EQ(tabs, (std::vector<std::string>{"Anchored To", "Primary Anchor", "Alternate Anchor", "Options"}));

    std::multiset<std::string> labels;
    for (const QLabel* label : page_->Form().Window()->findChildren<QLabel*>()) labels.insert(S(label->text()));
    const std::pair<const char*, size_t> expected[] = {
        {"Anchor Properties", 1},
        {"(some properties override Element properties.)", 1},
        {"Anchoring positions an elememt on the layout to an exact location with respect to the page or another "
         "element as the you move from page to page.",
         1},
        {"- Data Frame, Index, etc. (Name must be unique)", 1},
        {"If the layout has more than one page (map series and books):", 1},
        {"Page Range:", 1},
        {"For example, 1,3,5-12", 1},
        {"Anchor the", 2},
        {"of this element", 2},
        {"to the", 2},
        {"page / selected element.", 2},
        {"Horizontal distance between anchor points:", 2},
        {"(positive numbers move element to the right, negative numbers to the left)", 2},
        {"Vertical distance between anchor points:", 2},
        {"(positive numbers move element up, negative numbers down)", 2},
        {"(This option is only available if anchoring to a Map Series frame)", 4},
        {"Use Horizontal Opposite to setup alternate anchor for two-sided printing.", 1},
        {"Anchor Priority:", 1},
        {"The anchor priority sets the order in which objects are anchored.  For example, if a text element is "
         "anchored to a data frame and the data frame is itself anchored to the page, setting the anchor priority of "
         "the text element to LOW will insure that the data frame is anchored to the page before the text element is "
         "anchored to the data frame.",
         1},
    };
    size_t total = 0;
    for (const auto& [text, count] : expected) {
        EXPECT_EQ(labels.count(text), count) << text;
        total += count;
    }
    EXPECT_EQ(labels.size(), total) << "a label the form does not own";
}

}  // namespace
}  // namespace crv::testing
