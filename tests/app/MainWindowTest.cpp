#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QCheckBox>

#include "Fixtures.h"
#include "app/TForm1.h"

namespace {

class MainWindowTest : public PlatformFixture {
protected:
    std::unique_ptr<TForm1> Create() { return std::make_unique<TForm1>(); }
};

TEST_F(MainWindowTest, StartStateOfControlsAndFields) {
    desktop->cursor = QPoint(321, 123);
    auto form = Create();
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Tessaly Ver1.40"));
    EXPECT_EQ(form->size(), QSize(566, 288));
    EXPECT_EQ(form->OuterSize().height(), TForm1::kListHeight);
    EXPECT_EQ(form->font().family(), QStringLiteral("ＭＳ Ｐ明朝"));
    EXPECT_EQ(form->font().pixelSize(), 12);
    EXPECT_EQ(form->SpeedButton5->text(), QStringLiteral("現在手動\nモードです"));
    EXPECT_EQ(form->AutoPlay, 0);
    EXPECT_EQ(form->AutoSearchIndex, 0);
    EXPECT_EQ(form->LastCursorPos, QPoint(321, 123));
    EXPECT_EQ(form->WorkDir, dir);
    EXPECT_TRUE(form->acceptDrops());
    EXPECT_TRUE(form->Button1->isHidden());
    EXPECT_TRUE(form->Label9->isHidden());
    EXPECT_TRUE(form->MediaPlayer1->isHidden());
    EXPECT_TRUE(form->GroupBox1->isHidden());
    EXPECT_TRUE(form->Button4->isHidden());
    EXPECT_FALSE(form->ComboBox3->isEnabled());
    EXPECT_TRUE(form->CheckBox5->isChecked());
    EXPECT_FALSE(form->CheckBox2->isChecked());
    EXPECT_EQ(form->ComboBox2->currentText(), QStringLiteral("*.MP3"));
    EXPECT_EQ(form->ComboBox2->count(), 18);
    EXPECT_EQ(form->ComboBox2->itemText(14), QStringLiteral("*.DOC"));
    EXPECT_EQ(form->Label8->text(), QStringLiteral("　　　　　"));
    EXPECT_EQ(form->CheckListBox1->Count(), 0);
    EXPECT_EQ(form->CheckListBox1->ItemIndex(), -1);
    using B = TMediaPlayer;
    EXPECT_TRUE(form->MediaPlayer1->ButtonVisible(B::btPlay));
    EXPECT_TRUE(form->MediaPlayer1->ButtonVisible(B::btStop));
    EXPECT_FALSE(form->MediaPlayer1->ButtonVisible(B::btEject));
    // Timers: intervals and start states.
    EXPECT_EQ(form->Timer1->Interval(), 6000);
    EXPECT_FALSE(form->Timer1->Enabled());
    EXPECT_EQ(form->Timer3->Interval(), 1000);
    EXPECT_TRUE(form->Timer3->Enabled());
    EXPECT_EQ(form->Timer4->Interval(), 5000);
    EXPECT_TRUE(form->Timer4->Enabled());
    EXPECT_EQ(form->Timer6->Interval(), 2000);
    EXPECT_FALSE(form->Timer6->Enabled());
    // The holders lie below the largest client area, out of sight.
    for (QWidget* w : {static_cast<QWidget*>(form->ListBox6), static_cast<QWidget*>(form->Label5),
                       static_cast<QWidget*>(form->Button5)})
        EXPECT_GE(w->y(), 312);
}

TEST_F(MainWindowTest, IdleDelayItems) {
    auto form = Create();
    ASSERT_EQ(form->ComboBox3->count(), 7);
    EXPECT_EQ(form->ComboBox3->itemText(0), QStringLiteral("　すぐ開始する"));
    EXPECT_EQ(form->ComboBox3->itemText(1), QStringLiteral("　５分後から開始する"));
    EXPECT_EQ(form->ComboBox3->itemText(6), QStringLiteral("３０分後から開始する"));
    EXPECT_EQ(form->ComboBox3->currentIndex(), 1);
}

TEST_F(MainWindowTest, CentredOnTheScreenAndNeverPastItsTopLeft) {
    desktop->screen = QSize(1025, 768);
    auto form = Create();
    EXPECT_EQ(form->pos(), QPoint((1025 - 572) / 2, (768 - 315) / 2));
    // A screen smaller than the window: its caption stays on the screen, to be moved by.
    desktop->screen = QSize(301, 200);
    auto small = Create();
    EXPECT_EQ(small->pos(), QPoint(0, 0));
}

TEST_F(MainWindowTest, LauncherAndListViews) {
    auto form = Create();
    QPoint at = form->pos();
    form->SpeedButton3Click();
    EXPECT_EQ(form->OuterSize().height(), 102);
    EXPECT_EQ(form->width(), 566);
    form->SpeedButton3Click();
    EXPECT_EQ(form->OuterSize().height(), 102);
    // The toolbar stays whole; the search row is cut off.
    EXPECT_GE(form->height(), form->ControlBar1->height());
    EXPECT_LT(form->height(), form->ComboBox2->geometry().bottom());
    form->SpeedButton4->click();
    EXPECT_EQ(form->OuterSize().height(), 315);
    form->SpeedButton4Click();
    EXPECT_EQ(form->OuterSize().height(), 315);
    EXPECT_EQ(form->pos(), at);
}

TEST_F(MainWindowTest, RegisteredFolderBecomesTheWorkingFolder) {
    ::mkdir(Path("registered").c_str(), 0755);
    registry->WriteString("Run", "_KDR_", "\"" + Path("registered") + "/kdr.exe\"");
    auto form = Create();
    EXPECT_EQ(form->WorkDir, Path("registered"));
    EXPECT_EQ(platform::GetCurrentDir(), Path("registered"));
    EXPECT_TRUE(boxes->shown.empty());
}

TEST_F(MainWindowTest, LiteralXxCountsAsAbsent) {
    registry->WriteString("Run", "_KDR_", "xx");
    auto form = Create();
    EXPECT_EQ(form->WorkDir, dir);
    EXPECT_TRUE(boxes->shown.empty());
}

TEST_F(MainWindowTest, MissingRegisteredFolderIsReportedAndTheWindowWorks) {
    // The box names the folder after the run-time's text (the value itself when it names
    // none), as the list shows names: the user learns what has gone.
    const std::string sjis = Path("\x8b\x8c");  // 旧
    const struct {
        std::string value;
        QString text;
    } cases[] = {
        {"\"" + Path("moved") + "/kdr.exe\"", QStringLiteral("I/O エラー (2)\r\n") + QString::fromStdString(Path("moved"))},
        {"\"" + sjis + "/kdr.exe\"", QStringLiteral("I/O エラー (2)\r\n") + QString::fromStdString(dir) + QStringLiteral("/旧")},
        {"short", QStringLiteral("I/O エラー (2)\r\nshort")},
        {"", QStringLiteral("I/O エラー (2)")},
    };
    for (const auto& c : cases) {
        const std::string& value = c.value;
        boxes->shown.clear();
        registry->WriteString("Run", "_KDR_", value);
        auto form = Create();
        ASSERT_EQ(boxes->shown.size(), 1u) << value;
        EXPECT_EQ(boxes->shown[0].kind, platform::BoxKind::Error);
        EXPECT_EQ(boxes->shown[0].text, c.text);
        // The rest of the creation ran: the window is usable.
        EXPECT_EQ(form->WorkDir, dir);
        EXPECT_EQ(form->ComboBox3->count(), 7);
        EXPECT_TRUE(form->acceptDrops());
        EXPECT_EQ(form->SpeedButton5->text(), QStringLiteral("現在手動\nモードです"));
    }
}

}  // namespace
