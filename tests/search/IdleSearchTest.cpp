// The idle check and the automatic search steps, driven tick by tick.
#include <gtest/gtest.h>

#include <QCheckBox>

#include "SearchFixture.h"
#include "search/Searches.h"

namespace {

class IdleSearchTest : public SearchFixture {
protected:
    void SetUp() override {
        SearchFixture::SetUp();
        form->CheckBox2->setChecked(true);
        form->CheckBox2Click();
        desktop->cursor = form->LastCursorPos;
    }
    void Ticks(int n) {
        for (int i = 0; i < n; ++i) form->Timer3Timer();
    }
    bool LatchRed() const { return form->Label5->palette().color(QPalette::WindowText) == QColor(255, 0, 0); }
};

TEST_F(IdleSearchTest, PermissionEnablesTheDelayBox) {
    EXPECT_TRUE(form->ComboBox3->isEnabled());
    form->CheckBox2->setChecked(false);
    form->CheckBox2Click();
    EXPECT_FALSE(form->ComboBox3->isEnabled());
    Ticks(3);
    EXPECT_EQ(form->IdleSeconds, 0);
    EXPECT_EQ(form->IdleSearchActive, 0);
}

TEST_F(IdleSearchTest, CountdownThenAutomaticModeArmsTheStepOnce) {
    form->Timer4->SetEnabled(false);
    Ticks(1);
    EXPECT_EQ(form->Label10->text(), QStringLiteral("残り299秒で自動検索モードへ移行予定"));
    EXPECT_EQ(form->Label10->palette().color(QPalette::WindowText), QColor(0x99, 0x99, 0x99));
    Ticks(299);
    EXPECT_EQ(form->Label10->text(), QStringLiteral("残り0秒で自動検索モードへ移行予定"));
    EXPECT_EQ(form->IdleSearchActive, 0);
    EXPECT_FALSE(form->Timer4->Enabled());
    Ticks(1);
    EXPECT_EQ(form->IdleSearchActive, 1);
    EXPECT_EQ(form->Label10->text(), QStringLiteral("自動検索モード..."));
    EXPECT_TRUE(form->Timer4->Enabled());
    EXPECT_TRUE(LatchRed());
    // Later idle ticks of the same period do not arm it again.
    form->Timer4->SetEnabled(false);
    Ticks(5);
    EXPECT_FALSE(form->Timer4->Enabled());
}

TEST_F(IdleSearchTest, WatchedKeysAndMovesResetOtherKeysDoNot) {
    form->ComboBox3->setCurrentIndex(0);
    Ticks(1);
    EXPECT_EQ(form->IdleSearchActive, 1);  // item 0: the first idle tick
    fakes->keys->down = {112, 13, 16};     // F1, Enter, Shift
    Ticks(1);
    EXPECT_EQ(form->IdleSeconds, 2);
    for (int vk : {int('Q'), 40, int('7'), 32}) {
        fakes->keys->pressedOnce = {vk};
        desktop->cursor = QPoint(500, 500);  // not read on a tick that found a key
        Ticks(1);
        EXPECT_EQ(form->IdleSeconds, 0) << vk;
        EXPECT_EQ(form->IdleSearchActive, 0);
        EXPECT_FALSE(LatchRed());
        EXPECT_EQ(form->Label11->text(), QStringLiteral("　"));
        EXPECT_EQ(form->Label10->text(), QStringLiteral("　　　　　　　　　　　　　"));
        desktop->cursor = form->LastCursorPos;
        Ticks(1);
    }
    // A moved cursor is activity too, and becomes the new reference.
    desktop->cursor = QPoint(7, 8);
    Ticks(1);
    EXPECT_EQ(form->IdleSeconds, 0);
    EXPECT_EQ(form->LastCursorPos, QPoint(7, 8));
    Ticks(1);
    EXPECT_EQ(form->IdleSeconds, 1);
}

TEST_F(IdleSearchTest, TypedDelayAndLongIdlenessNeverOverflow) {
    form->ComboBox3->setEditable(true);
    form->ComboBox3->setEditText(QStringLiteral("すぐに"));
    Ticks(1);
    EXPECT_EQ(form->IdleSearchActive, 1);
    form->ComboBox3->setCurrentIndex(6);
    form->IdleSeconds = 999999;
    Ticks(1);
    EXPECT_EQ(form->IdleSeconds, 1801);
    EXPECT_EQ(form->IdleSearchActive, 1);
}

TEST_F(IdleSearchTest, FifteenPatternsWithPauseAndResume) {
    std::string r = AddDrive("R");
    for (const char* p : search::kAutoPatterns) File(r + "x" + std::string(p + 1));
    form->ComboBox3->setCurrentIndex(0);
    Ticks(1);
    ASSERT_TRUE(form->Timer4->Enabled());
    for (int i = 0; i < 5; ++i) {
        form->Timer4Timer();
        EXPECT_TRUE(form->Timer4->Enabled());
    }
    EXPECT_EQ(form->AutoSearchIndex, 5);
    EXPECT_EQ(form->ComboBox2->currentText(), QStringLiteral("*.GIF"));

    // Activity between two steps: the next step pauses the sequence where it is.
    fakes->keys->pressedOnce = {'A'};
    Ticks(1);
    form->Timer4Timer();
    EXPECT_EQ(form->AutoSearchIndex, 5);
    EXPECT_EQ(form->SearchCancelled, 1);
    EXPECT_EQ(form->Label11->text(), QStringLiteral(" "));
    EXPECT_FALSE(form->Timer4->Enabled());

    // The next idle period resumes it at the pattern where it stopped.
    Ticks(1);
    ASSERT_TRUE(form->Timer4->Enabled());
    for (int i = 5; i < 15; ++i) form->Timer4Timer();
    EXPECT_EQ(form->AutoSearchIndex, 15);
    EXPECT_EQ(form->IdleSearchActive, 0);
    EXPECT_FALSE(form->Timer4->Enabled());
    EXPECT_EQ(form->Label11->text(), QStringLiteral("完了 "));
    EXPECT_TRUE(boxes->shown.empty());
    for (const char* p : search::kAutoPatterns)
        EXPECT_EQ(ReadFile(Path("SearchView" + std::string(p + 1))), r + "x" + std::string(p + 1) + "\r\n") << p;

    // Complete: staying idle starts nothing; after activity a new period arms one step,
    // which finds no pattern left and searches nothing.
    Ticks(2);
    EXPECT_EQ(form->Label10->text(), QStringLiteral("自動検索モード..."));
    EXPECT_FALSE(form->Timer4->Enabled());
    desktop->cursor = QPoint(1, 1);
    Ticks(2);
    ASSERT_TRUE(form->Timer4->Enabled());
    form->CheckListBox1->Clear();
    form->Timer4Timer();
    EXPECT_EQ(form->CheckListBox1->Count(), 0);
    EXPECT_EQ(form->AutoSearchIndex, 15);
    EXPECT_EQ(form->Label11->text(), QStringLiteral("完了 "));
}

TEST_F(IdleSearchTest, NoStepInsideAnAttendedSearchsBox) {
    std::string r = AddDrive("R");
    File(r + "a.mp3");
    File(r + "b.bmp");
    form->ComboBox3->setCurrentIndex(0);
    SetBox("*.MP3");
    // While the closing message waits, the user stays idle and the step timer fires.
    boxes->answers = {platform::BoxAnswer::Yes};
    boxes->whileWaiting = [&](const platform::FakeMessageBoxes::Shown& box) {
        if (box.text != kCompleted) return;
        Ticks(1);
        form->Timer4Timer();
        EXPECT_TRUE(form->Timer4->Enabled());  // tried again later
    };
    form->SpeedButton1Click();
    EXPECT_EQ(ReadFile(Path("SearchView.MP3")), r + "a.mp3\r\n");
    EXPECT_EQ(form->AutoSearchIndex, 0);
}

}  // namespace
