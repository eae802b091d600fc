// Skins built into windows: controls by name, user actions as notifications, the controls'
// operations, language texts.
#include "TestWindow.h"

#include <QAbstractSlider>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

using namespace DuiLib;

namespace {

class SkinTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(CPaintManagerUI::ReLoadLanguageFile(testDataFolder() + "/lang/EN.xml", 0));
        window.Create(0, "test", UI_WNDSTYLE_DIALOG);
        window.ShowWindow();
        ASSERT_TRUE(waitUntil([this] { return !window.of(kNotifyWindowInit).empty(); }));
        window.seen.clear();
    }

    template <typename W> W* widget(const std::string& name) {
        CControlUI* control = window.manager().FindControl(name);
        return control != nullptr ? qobject_cast<W*>(control->GetWidget()) : nullptr;
    }

    TestWindow window;
};

} // namespace

TEST_F(SkinTest, ControlsAreFoundByNameWithTheirKind) {
    EXPECT_NE(window.find<CLabelUI>("caption"), nullptr);
    EXPECT_NE(window.find<CEditUI>("name"), nullptr);
    EXPECT_NE(window.find<CButtonUI>("apply"), nullptr);
    EXPECT_NE(window.find<COptionUI>("remember"), nullptr);
    EXPECT_NE(window.find<CSliderUI>("volume"), nullptr);
    EXPECT_NE(window.find<CProgressUI>("progress"), nullptr);
    EXPECT_NE(window.find<CComboUI>("choices"), nullptr);
    EXPECT_NE(window.find<CListUI>("rows"), nullptr);
    EXPECT_NE(window.find<CTabLayoutUI>("pages"), nullptr);
    EXPECT_NE(window.find<CDateUI>("day"), nullptr);
    EXPECT_NE(window.find<CTimeUI>("clock"), nullptr);
    EXPECT_NE(window.find<CCalUI>("cal"), nullptr);
    EXPECT_EQ(window.manager().FindControl("nothing"), nullptr);

    // The program's own class comes from its builder; a class nobody knows still loads.
    CControlUI* badge = window.manager().FindControl("badge");
    ASSERT_NE(badge, nullptr);
    EXPECT_EQ(badge->GetClass(), "BadgeUI");
    EXPECT_NE(window.manager().FindControl("mystery"), nullptr);

    // Skin user data, parents, sub-controls.
    EXPECT_EQ(userDataNumber(window.manager().FindControl("apply")), 7);
    CControlUI* pages = window.manager().FindControl("pages");
    CControlUI* inner = window.manager().FindSubControlByName(pages, "onPage0");
    ASSERT_NE(inner, nullptr);
    EXPECT_EQ(inner->GetText(), "zero");
    EXPECT_EQ(inner->GetParent()->GetName(), "page0");
}

TEST_F(SkinTest, UserActionsArriveAsNamedNotifications) {
    QTest::mouseClick(widget<QPushButton>("apply"), Qt::LeftButton);
    EXPECT_EQ(window.of(kNotifyClick, "apply").size(), 1u);
    EXPECT_EQ(window.of(kNotifyButtonDown, "apply").size(), 1u);

    widget<QCheckBox>("remember")->click();
    const auto toggled = window.of(kNotifySelectChanged, "remember");
    ASSERT_EQ(toggled.size(), 1u);
    EXPECT_EQ(toggled[0].wParam, 1u);

    auto* slider = widget<QSlider>("volume");
    slider->triggerAction(QAbstractSlider::SliderPageStepAdd);
    const auto moved = window.of(kNotifyValueChanged, "volume");
    ASSERT_EQ(moved.size(), 1u);
    EXPECT_EQ(moved[0].wParam, static_cast<WPARAM>(slider->pageStep()));

    auto* edit = widget<QLineEdit>("name");
    edit->setFocus();
    QTest::keyClicks(edit, "cam");
    EXPECT_EQ(window.of(kNotifyTextChanged, "name").size(), 3u);
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_EQ(window.of(kNotifyReturn, "name").size(), 1u);
    EXPECT_TRUE(window.of(kNotifyWindowMessage).empty());
}

TEST_F(SkinTest, ProgramChangesNotifyOnlyWhenAsked) {
    auto* option = window.find<COptionUI>("modeB");
    option->SelectedNoSendMsg(true);
    EXPECT_TRUE(option->IsSelected());
    EXPECT_FALSE(window.find<COptionUI>("modeA")->IsSelected()) << "options of a group exclude";
    EXPECT_TRUE(window.of(kNotifySelectChanged).empty());
    window.find<COptionUI>("modeA")->Selected(true);
    EXPECT_EQ(window.of(kNotifySelectChanged, "modeA").size(), 1u);

    auto* slider = window.find<CSliderUI>("volume");
    slider->SetMaxValue(50);
    slider->SetValue(30);
    EXPECT_EQ(slider->GetValue(), 30);
    EXPECT_EQ(slider->GetMaxValue(), 50);
    EXPECT_TRUE(window.of(kNotifyValueChanged).empty());

    auto* combo = window.find<CComboUI>("choices");
    combo->SelectedNoSendMsg(1);
    EXPECT_EQ(combo->GetCurSel(), 1);
    EXPECT_TRUE(window.of(kNotifyItemSelect).empty());
    combo->SelectItem(0);
    const auto chosen = window.of(kNotifyItemSelect, "choices");
    ASSERT_EQ(chosen.size(), 1u);
    EXPECT_EQ(chosen[0].wParam, 0u);

    auto* pages = window.find<CTabLayoutUI>("pages");
    EXPECT_TRUE(pages->SelectItem(2));
    EXPECT_EQ(pages->GetCurSel(), 2);
    EXPECT_FALSE(pages->SelectItem(3));
    EXPECT_EQ(window.of(kNotifyTabSelect, "pages").size(), 1u);
}

TEST_F(SkinTest, ListRowsKeepOrderTagsAndHtml) {
    auto* list = window.find<CListUI>("rows");
    for (int i = 0; i < 3; ++i) {
        auto* row = new CListTextElementUI;
        row->SetText(0, "camera " + std::to_string(i));
        row->SetText(1, "<c #ff0000>offline</c>");
        row->SetTag(100 + static_cast<uintptr_t>(i));
        ASSERT_TRUE(list->Add(row));
    }
    auto* first = new CListTextElementUI;
    first->SetText(0, "first");
    ASSERT_TRUE(list->AddAt(first, 0));
    auto stray = std::make_unique<CListTextElementUI>(); // a refused row stays the caller's
    EXPECT_FALSE(list->AddAt(stray.get(), 9)) << "out of range";
    ASSERT_EQ(list->GetCount(), 4);
    EXPECT_EQ(list->GetItemAt(0)->GetText(0), "first");
    EXPECT_EQ(list->GetItemAt(2)->GetTag(), 101u);

    auto* tree = widget<QTreeWidget>("rows");
    EXPECT_EQ(tree->topLevelItem(1)->text(1).toStdString(), "<c #ff0000>offline</c>");
    list->SetItemShowHtml(true);
    EXPECT_EQ(tree->topLevelItem(1)->text(1).toStdString(), "offline");

    EXPECT_TRUE(list->SelectItem(2));
    const auto selected = window.of(kNotifyItemSelect, "rows");
    ASSERT_EQ(selected.size(), 1u);
    EXPECT_EQ(selected[0].wParam, 2u);
    EXPECT_TRUE(list->GetItemAt(2)->IsSelected());
    EXPECT_TRUE(list->SelectItem(1, false));
    EXPECT_EQ(window.of(kNotifyItemSelect, "rows").size(), 1u);

    EXPECT_TRUE(list->Remove(list->GetItemAt(0)));
    EXPECT_EQ(list->GetCount(), 3);
    EXPECT_EQ(list->GetItemAt(0)->GetText(0), "camera 0");
    list->RemoveAll();
    EXPECT_EQ(list->GetCount(), 0);
    EXPECT_EQ(tree->topLevelItemCount(), 0);
}

TEST_F(SkinTest, ComboEntriesCarryTheirData) {
    auto* combo = window.find<CComboUI>("choices");
    ASSERT_EQ(combo->GetCount(), 2) << "entries of the skin";
    auto* entry = new CListLabelElementUI;
    entry->SetText("Third");
    entry->SetUserData("/records/3");
    ASSERT_TRUE(combo->Add(entry));
    EXPECT_EQ(combo->GetCount(), 3);
    EXPECT_EQ(combo->GetItemAt(2)->GetUserData(), "/records/3");
    EXPECT_EQ(combo->GetItemAt(0)->GetText(), "One");
    combo->SelectItem(2, false);
    EXPECT_EQ(combo->GetText(), "Third");
    EXPECT_TRUE(combo->RemoveAt(0));
    EXPECT_EQ(combo->GetItemAt(1)->GetUserData(), "/records/3");
    EXPECT_TRUE(window.of(kNotifyItemSelect).empty()) << "filling a combo is not choosing";
}

TEST_F(SkinTest, LabelsShowTheHtmlSubsetSafely) {
    auto* label = window.find<CLabelUI>("message");
    label->SetShowHtml(true);
    label->SetText("<b>Cam</b> <c #00ff00>online</c> <script>");
    const QString shown = widget<QLabel>("message")->text();
    EXPECT_TRUE(shown.contains("<b>Cam</b>"));
    EXPECT_TRUE(shown.contains("color:#00ff00"));
    EXPECT_TRUE(shown.contains("&lt;script&gt;")) << shown.toStdString();
    EXPECT_EQ(label->GetText(), "<b>Cam</b> <c #00ff00>online</c> <script>");
}

TEST_F(SkinTest, DatesTimesAndCalendarFormat) {
    auto* day = window.find<CDateUI>("day");
    day->SetDate({2026, 3, 7});
    EXPECT_EQ(day->GetText(), "2026-03-07");
    auto* clock = window.find<CTimeUI>("clock");
    clock->SetTime({0, 0, 0, 9, 5, 3});
    EXPECT_EQ(clock->GetText(), "09:05:03");
    auto* calendar = window.find<CCalUI>("cal");
    calendar->SetSelectedDate({2024, 2, 10});
    EXPECT_EQ(calendar->GetDays(), 29);
    EXPECT_EQ(CCalUI::GetDays(2023, 2), 28);
    EXPECT_EQ(CCalUI::GetDays(2023, 13), 0);
    day->SetDate({2026, 2, 30}); // not a date: kept as it was
    EXPECT_EQ(day->GetText(), "2026-03-07");
}

TEST_F(SkinTest, TimersTickUntilKilled) {
    CControlUI* badge = window.manager().FindControl("badge");
    ASSERT_TRUE(window.manager().SetTimer(badge, 17, 10));
    ASSERT_TRUE(waitUntil([this] { return window.of(kNotifyTimer).size() >= 3; }));
    EXPECT_EQ(window.of(kNotifyTimer)[0].wParam, 17u);
    EXPECT_EQ(window.of(kNotifyTimer)[0].sender, "badge");
    EXPECT_TRUE(window.manager().KillTimer(badge, 17));
    const size_t ticks = window.of(kNotifyTimer).size();
    waitUntil([] { return false; }, 60);
    EXPECT_EQ(window.of(kNotifyTimer).size(), ticks);
    EXPECT_FALSE(window.manager().KillTimer(badge, 17));
}

TEST_F(SkinTest, LanguageSwitchChangesEveryKeyedText) {
    auto* caption = widget<QLabel>("caption");
    EXPECT_EQ(caption->text().toStdString(), "Camera name");
    EXPECT_EQ(caption->toolTip().toStdString(), "The name shown in the device tree");
    EXPECT_EQ(widget<QLineEdit>("name")->placeholderText().toStdString(), "Type a name");
    EXPECT_EQ(widget<QComboBox>("choices")->itemText(1).toStdString(), "Two");
    EXPECT_EQ(widget<QTreeWidget>("rows")->headerItem()->text(1).toStdString(), "State");
    EXPECT_EQ(window.GetWidget()->windowTitle().toStdString(), "Settings");

    ASSERT_TRUE(CPaintManagerUI::ReLoadLanguageFile(testDataFolder() + "/lang/RU.xml", 1));
    EXPECT_EQ(CPaintManagerUI::GetLanguageState(), 1);
    EXPECT_EQ(caption->text().toStdString(), "Имя камеры");
    EXPECT_EQ(widget<QComboBox>("choices")->itemText(0).toStdString(), "Один");
    EXPECT_EQ(window.GetWidget()->windowTitle().toStdString(), "Настройки");
    // A key the translation lacks falls back to English; an unknown key shows itself.
    EXPECT_EQ(CPaintManagerUI::FindLgText("only_english"), "Only in English");
    EXPECT_EQ(CPaintManagerUI::FindLgText("no_such_key"), "no_such_key");
    // Spaces that programs join texts with survive.
    EXPECT_EQ(CPaintManagerUI::FindLgText("joined"), "Страниц: ");
    std::string text;
    std::string title;
    ASSERT_TRUE(CPaintManagerUI::FindLgText("ask", text, title));
    EXPECT_EQ(title, "Вопрос");

    // A broken file changes nothing.
    EXPECT_FALSE(CPaintManagerUI::ReLoadLanguageFile(testDataFolder() + "/lang/BROKEN.xml", 2));
    EXPECT_FALSE(CPaintManagerUI::ReLoadLanguageFile(testDataFolder() + "/lang/NONE.xml", 3));
    EXPECT_EQ(CPaintManagerUI::GetLanguageState(), 1);
    EXPECT_EQ(caption->text().toStdString(), "Имя камеры");
}
