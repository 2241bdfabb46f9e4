#pragma once
// An anchor page opened over a standalone host, with the user's means of editing it: typing,
// clicking and choosing from lists, all through the real widgets.

#include "anchor/AnchorRecord.h"
#include "anchor/CRVAnchorManager.h"
#include "anchor/GeneralFunctions.h"
#include "errors/ErrorHandling.h"
#include "propertypage/AnchorPropertyPage.h"
#include "standalone/host/StandaloneHost.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace crv::testing {

using objects::Rect;
using objects::SeriesData;
using objects::SeriesField;
using standalone::ElementKind;
using standalone::StandaloneHost;

inline std::string S(const QString& s) { return s.toStdString(); }

inline SeriesData SeriesWith(std::vector<SeriesField> fields) {
    SeriesData data;
    data.fields = std::move(fields);
    return data;
}

class PageTest : public ::testing::Test {
protected:
    PageTest() : alive_before_(support::Tracked::Alive()) {}

    ~PageTest() override {
        page_.Reset();
        site_.Reset();
    }

    // Gives the element a default record with these keys changed, and returns the record.
    ComPtr<PropertyBag> GiveRecord(const ComPtr<LayoutElement>& element, const std::map<std::string, Variant>& keys) {
        ComPtr<PropertyBag> record = GeneralFunctions::NewAnchorProperties();
        for (const auto& [k, v] : keys) record->SetProperty(k, v);
        GeneralFunctions::SetAnchorProperties(element, record);
        return record;
    }

    // What the host does when the user opens the element's properties.
    void Open(std::initializer_list<ComPtr<Unknown>> selection) {
        page_ = ComPtr<AnchorPropertyPage>(new AnchorPropertyPage());
        site_ = ComPtr<objects::PageSiteImpl>(new objects::PageSiteImpl());
        page_->SetPageSite(ComPtr<PropertyPageSite>(site_));
        page_->SetObjects(host_.Selection(selection));
        page_->Activate();
        page_->Show();
    }
    void Open(const ComPtr<LayoutElement>& element) { Open({ComPtr<Unknown>(element)}); }

    template <class W>
    W* Find(const char* name) {
        W* w = page_->Form().Window()->findChild<W*>(QString::fromLatin1(name));
        if (w == nullptr) ADD_FAILURE() << "no control " << name;
        return w;
    }
    QLineEdit* Text(const char* name) { return Find<QLineEdit>(name); }
    QComboBox* Combo(const char* name) { return Find<QComboBox>(name); }
    QCheckBox* Check(const char* name) { return Find<QCheckBox>(name); }
    QRadioButton* Option(const char* name) { return Find<QRadioButton>(name); }
    QListWidget* Names() { return Find<QListWidget>("lstElementNames"); }
    QTabWidget* Tabs() { return Find<QTabWidget>("sstabAnchorProperties"); }

    // The user replaces a box's text by selecting all and typing.
    void Type(const char* box, const QString& text) {
        QLineEdit* edit = Text(box);
        QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
        if (text.isEmpty()) {
            QTest::keyClick(edit, Qt::Key_Delete);
        } else {
            QTest::keyClicks(edit, text);
        }
    }
    void Click(QWidget* w) { QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(8, w->height() / 2)); }
    void Click(const char* button) { Click(Find<QWidget>(button)); }
    // The user steps through a drop-down list with the arrow keys to the entry.
    void Choose(const char* list, const QString& entry) {
        QComboBox* box = Combo(list);
        const int target = box->findText(entry, Qt::MatchExactly);
        ASSERT_GE(target, 0) << entry.toStdString();
        box->setFocus();
        while (box->isEnabled() && box->currentIndex() < target) QTest::keyClick(box, Qt::Key_Down);
        while (box->isEnabled() && box->currentIndex() > target) QTest::keyClick(box, Qt::Key_Up);
    }
    void ChooseName(int row) {
        QListWidget* list = Names();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(row)).center());
    }

    int ChosenRow() {
        const QList<QListWidgetItem*> chosen = Names()->selectedItems();
        return chosen.isEmpty() ? -1 : Names()->row(chosen.front());
    }
    std::string ChosenName() { return ChosenRow() < 0 ? std::string() : S(Names()->item(ChosenRow())->text()); }

    std::vector<std::string> Items(const char* list) {
        std::vector<std::string> out;
        QComboBox* box = Combo(list);
        for (int i = 0; i < box->count(); ++i) out.push_back(S(box->itemText(i)));
        return out;
    }
    std::vector<std::string> NameItems() {
        std::vector<std::string> out;
        for (int i = 0; i < Names()->count(); ++i) out.push_back(S(Names()->item(i)->text()));
        return out;
    }

    const ComPtr<PropertyBag>& Working() { return page_->Form().WorkingProperties; }
    Variant Working(const char* key) { return Working()->GetProperty(key); }
    int Notifications() const { return site_->Notifications(); }

    // The entries of a record in the order the host keeps them.
    static std::vector<std::pair<std::string, Variant>> Entries(const ComPtr<PropertyBag>& bag) {
        return ComPtr<objects::BagContents>::Query(bag)->Entries();
    }

    std::vector<std::string> ReportedStacks() const {
        std::vector<std::string> out;
        for (const auto& r : sink_.reports) out.push_back(r.text);
        return out;
    }

    StandaloneHost host_;
    RecordingErrorSink sink_;
    ScopedErrorSink scope_{sink_};
    ComPtr<AnchorPropertyPage> page_;
    ComPtr<objects::PageSiteImpl> site_;
    int64_t alive_before_;
};

inline bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace crv::testing
