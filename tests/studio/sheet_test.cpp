// The host's property sheet: pages found through the registry's category, hosted through the
// page protocol, with Apply, OK and Cancel as a user presses them.
#include "../propertypage/PageFixture.h"

#include "com/Registry.h"
#include "standalone/studio/PropertySheet.h"
#include "standalone/tools/Registration.h"

#include <QDialogButtonBox>
#include <QDoubleSpinBox>

#include <cstdlib>
#include <filesystem>
#include <unistd.h>

namespace crv::testing {
namespace {

namespace fs = std::filesystem;

class SheetTest : public ::testing::Test {
protected:
    SheetTest() {
        dir_ = fs::temp_directory_path() / ("crv-sheet-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        ::setenv("CRVANCHOR_REGISTRY", (dir_ / "registry.db").c_str(), 1);
        EXPECT_EQ(tools::RegisterServer(CRV_LIBRARY_PATH, false).code, 0);
        EXPECT_EQ(tools::InstallPage(true).code, 0);
        title_ = host_.AddText("Title", {1, 1, 3, 2});
        plain_ = host_.AddText("Plain", {4, 4, 5, 5});
        auto m = GeneralFunctions::NewAnchorProperties();
        m->SetProperty(key::AnchorElement, true);
        m->SetProperty(key::AnchorFromAll, int16_t{1});
        m->SetProperty(key::AnchorToAll, int16_t{1});
        GeneralFunctions::SetAnchorProperties(title_, m);
    }
    ~SheetTest() override {
        ClassTable::Instance().FreeUnusedLibraries();
        ::unsetenv("CRVANCHOR_REGISTRY");
        fs::remove_all(dir_);
    }
    std::unique_ptr<studio::PropertySheet> Open(const ComPtr<LayoutElement>& e) {
        auto sheet = std::make_unique<studio::PropertySheet>(host_.Selection({ComPtr<Unknown>(e)}), e);
        sheet->show();
        return sheet;
    }
    QLineEdit* Box(studio::PropertySheet& sheet, const char* name) { return sheet.findChild<QLineEdit*>(name); }

    fs::path dir_;
    StandaloneHost host_;
    RecordingErrorSink sink_;
    ScopedErrorSink scope_{sink_};
    ComPtr<LayoutElement> title_;
    ComPtr<LayoutElement> plain_;
};

TEST_F(SheetTest, TheAnchorPageIsOfferedBecauseTheRegistrySaysSo) {
    {
        auto sheet = Open(title_);
        EXPECT_EQ(sheet->Titles(), (std::vector<std::string>{"General", "Anchor"}));
        EXPECT_TRUE(sheet->Problems().empty());
        EXPECT_FALSE(sheet->ApplyButton()->isEnabled());
    }
    {
        auto sheet = Open(plain_);  // no record: the page does not apply
        EXPECT_EQ(sheet->Titles(), std::vector<std::string>{"General"});
    }
    ASSERT_EQ(tools::InstallPage(false).code, 0);
    auto sheet = Open(title_);  // out of the category: not offered at all
    EXPECT_EQ(sheet->Titles(), std::vector<std::string>{"General"});
    EXPECT_TRUE(sink_.reports.empty());
}

TEST_F(SheetTest, ApplyMovesTheElementAndStoresTheRecordCancelChangesNothing) {
    {
        auto sheet = Open(title_);
        sheet->Tabs()->setCurrentIndex(1);
        QLineEdit* v = Box(*sheet, "txtVDistanceAll");
        ASSERT_NE(v, nullptr);
        QTest::keyClick(v, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(v, "-0.5");
        EXPECT_TRUE(sheet->ApplyButton()->isEnabled());
        QTest::mouseClick(sheet->ApplyButton(), Qt::LeftButton);
        // Top centre of the element on the top centre of the page, half an inch down.
        EXPECT_EQ(StandaloneHost::ExtentOf(title_), (Rect{3.25, 9.5, 5.25, 10.5}));
        EXPECT_EQ(GeneralFunctions::GetAnchorProperties(title_)->GetProperty(key::VDistanceAll), Variant("-0.5"));
        QTest::mouseClick(sheet->OkButton(), Qt::LeftButton);
    }
    const auto stored = GeneralFunctions::GetAnchorProperties(title_);
    const auto before = ComPtr<objects::BagContents>::Query(stored)->Entries();
    {
        auto sheet = Open(title_);
        sheet->Tabs()->setCurrentIndex(1);
        QLineEdit* h = Box(*sheet, "txtHDistanceAll");
        QTest::keyClick(h, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(h, "2");
        QTest::mouseClick(sheet->CancelButton(), Qt::LeftButton);
    }
    EXPECT_EQ(ComPtr<objects::BagContents>::Query(GeneralFunctions::GetAnchorProperties(title_))->Entries(), before);
    EXPECT_EQ(StandaloneHost::ExtentOf(title_), (Rect{3.25, 9.5, 5.25, 10.5}));
    EXPECT_TRUE(sink_.reports.empty());
}

TEST_F(SheetTest, TheGeneralPageRenamesAndMovesTheElement) {
    auto sheet = Open(plain_);
    auto* name = sheet->findChild<QLineEdit*>("generalName");
    auto* x = sheet->findChild<QDoubleSpinBox*>("generalX");
    ASSERT_TRUE(name && x);
    QTest::keyClick(name, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(name, "Inset");
    x->setValue(0.5);
    EXPECT_TRUE(sheet->ApplyButton()->isEnabled());
    QTest::mouseClick(sheet->OkButton(), Qt::LeftButton);
    EXPECT_EQ(plain_->Name(), "Inset");
    EXPECT_EQ(StandaloneHost::ExtentOf(plain_), (Rect{0.5, 4, 1.5, 5}));
}

}  // namespace
}  // namespace crv::testing
