// Remaining display and continuous play, driven by direct ticks on the fake media device.
#include <gtest/gtest.h>

#include "Fixtures.h"
#include "player/Playback.h"

namespace {

class ContinuousPlayTest : public MainWindowFixture {
protected:
    // Real files: activation skips entries whose file is missing.
    std::string Media(const std::string& name) {
        std::string p = Path(name);
        WriteFile(p, "x");
        return p;
    }
    QString Remaining() const { return form->Label9->text(); }
    int Selected() const { return form->CheckListBox1->ItemIndex(); }
    // Ticks of the one-second display and then of the six-second step, as time would run.
    void Step() {
        form->Timer2Timer();
        form->Timer1Timer();
    }
    void Auto() { form->SpeedButton5Click(); }
    int Opens() const {
        int n = 0;
        for (const auto& c : fakes->media->calls) n += c.rfind("open ", 0) == 0;
        return n;
    }
};

TEST(RemainingText, FormatAndBounds) {
    using player::FormatShare;
    using player::RemainingText;
    EXPECT_EQ(RemainingText(0, 8000), QStringLiteral("残り100.0%"));
    EXPECT_EQ(RemainingText(2000, 8000), QStringLiteral("残り75.0%"));
    EXPECT_EQ(RemainingText(1, 3), QStringLiteral("残り66.7%"));
    EXPECT_EQ(RemainingText(8000, 8000), QStringLiteral("残り0.0%"));
    EXPECT_EQ(RemainingText(9000, 8000), QStringLiteral("残り0.0%"));  // past the end: ended, not negative
    EXPECT_EQ(RemainingText(7999, 8000), QStringLiteral("残り0.0%"));  // under a twentieth of a percent left
    // A device that knows no length: at its start until it moves, then ended; never a failure.
    EXPECT_EQ(RemainingText(0, 0), QStringLiteral("残り100.0%"));
    EXPECT_EQ(RemainingText(500, 0), QStringLiteral("残り0.0%"));
    EXPECT_EQ(FormatShare(1234567.25), QStringLiteral("1,234,567.3"));
    EXPECT_EQ(FormatShare(999.95), QStringLiteral("1,000.0"));
    EXPECT_EQ(FormatShare(0.04), QStringLiteral("0.0"));
    EXPECT_EQ(FormatShare(-12.5), QStringLiteral("-12.5"));
    EXPECT_EQ(FormatShare(-0.04), QStringLiteral("0.0"));
    EXPECT_TRUE(player::IsFinishedText(QStringLiteral("残り-3.0%")));
    EXPECT_FALSE(player::IsFinishedText(QStringLiteral("残り10.0%")));
}

TEST_F(ContinuousPlayTest, DisplayFollowsTheDeviceOnlyWhileOpen) {
    form->Label9->setText(QStringLiteral("before"));
    form->Timer2Timer();  // nothing open: untouched
    EXPECT_EQ(Remaining(), QStringLiteral("before"));
    form->CheckListBox1->Add(Media("a.mp3"));
    form->CheckListBox1->SetItemIndex(0);
    form->CheckListBox1Click();
    EXPECT_TRUE(form->Timer2->Enabled());
    fakes->media->length = 8000;
    form->Timer2Timer();
    EXPECT_EQ(Remaining(), QStringLiteral("残り100.0%"));
    fakes->media->position = 2000;
    form->Timer2Timer();
    EXPECT_EQ(Remaining(), QStringLiteral("残り75.0%"));
    fakes->media->position = 8000;
    form->Timer2Timer();
    EXPECT_EQ(Remaining(), QStringLiteral("残り0.0%"));
    fakes->media->length = 0;  // a device reporting no length
    fakes->media->position = 0;
    form->Timer2Timer();
    EXPECT_EQ(Remaining(), QStringLiteral("残り100.0%"));
}

TEST_F(ContinuousPlayTest, OneFileLoopsWithMarkerFile) {
    const std::string song = Media("only.wav");
    form->CheckListBox1->Add(song);
    Auto();
    EXPECT_TRUE(form->Timer1->Enabled());
    // First step: nothing selected, entry 0 activated; second step starts it.
    Step();
    EXPECT_EQ(Selected(), 0);
    EXPECT_TRUE(fakes->media->open);
    EXPECT_FALSE(fakes->media->playing);
    Step();
    EXPECT_TRUE(fakes->media->playing);
    EXPECT_TRUE(platform::FileExists(form->WorkPath("chgcmd.txt")));
    EXPECT_EQ(ReadFile(form->WorkPath("chgcmd.txt")), "");
    EXPECT_TRUE(form->MediaPlayer1->ButtonVisible(TMediaPlayer::btStop));
    EXPECT_FALSE(form->MediaPlayer1->ButtonVisible(TMediaPlayer::btEject));
    // Ends: the same (only) entry is activated again and then started again.
    fakes->media->position = fakes->media->length;
    fakes->media->playing = false;
    platform::DeleteFile(form->WorkPath("chgcmd.txt"));
    Step();
    EXPECT_EQ(Opens(), 2);
    EXPECT_EQ(Selected(), 0);
    EXPECT_EQ(fakes->media->position, 0);
    Step();
    EXPECT_TRUE(fakes->media->playing);
    EXPECT_TRUE(platform::FileExists(form->WorkPath("chgcmd.txt")));  // made again once deleted
}

TEST_F(ContinuousPlayTest, WrapsToEntryZeroStepsOverStoreFilesAndWaitsMidway) {
    const std::string store = Media("SearchView.MP3");
    const std::string a = Media("a.mp3");
    const std::string b = Media("b.mp3");
    for (const auto& p : {store, a, b}) form->CheckListBox1->Add(p);
    Auto();
    form->CheckListBox1->SetItemIndex(2);
    form->CheckListBox1Click();
    Step();  // starts b
    ASSERT_TRUE(fakes->media->playing);
    EXPECT_EQ(fakes->media->file, b);
    fakes->media->position = 4000;  // midway: nothing happens
    Step();
    EXPECT_EQ(Selected(), 2);
    EXPECT_EQ(Opens(), 1);
    fakes->media->position = fakes->media->length;
    Step();  // wraps past entry 0, a result-store file, to entry 1
    EXPECT_EQ(Selected(), 1);
    EXPECT_EQ(fakes->media->file, a);
    // A negative share (a stale text of another device) counts as ended as well.
    form->Label9->setText(QStringLiteral("残り-0.5%"));
    form->Timer1Timer();
    EXPECT_EQ(Selected(), 2);
}

TEST_F(ContinuousPlayTest, NoEntrySelectedWhileFinishedActivatesTwoEntriesInOneTick) {
    const std::string a = Media("a.mp3");
    const std::string b = Media("b.mp3");
    form->CheckListBox1->Add(a);
    form->CheckListBox1->Add(b);
    form->Label9->setText(QStringLiteral("残り0.0%"));
    Auto();
    form->Timer1Timer();
    EXPECT_EQ(Selected(), 1);
    EXPECT_EQ(fakes->media->calls, (std::vector<std::string>{"open " + a, "open " + b}));
    EXPECT_FALSE(fakes->media->playing);
}

TEST_F(ContinuousPlayTest, AllStoreEntriesEndAfterOnePass) {
    for (const char* n : {"SearchView.MP3", "SearchView.WAV", "SearchView.dwn"}) form->CheckListBox1->Add(Media(n));
    form->CheckListBox1->SetItemIndex(1);
    form->Label9->setText(QStringLiteral("残り0.0%"));
    Auto();
    form->Timer1Timer();  // must return, without activating anything
    EXPECT_TRUE(fakes->media->calls.empty());
    EXPECT_GE(Selected(), 0);
    form->Label9->setText(QString());
    form->Timer1Timer();  // empty display: nothing to do
    EXPECT_TRUE(fakes->media->calls.empty());
}

TEST_F(ContinuousPlayTest, ToggleTwiceKeepsPlayingAndManualModeStops) {
    form->CheckListBox1->Add(Media("a.mp3"));
    form->CheckListBox1->SetItemIndex(0);
    form->CheckListBox1Click();
    form->Timer2Timer();
    Auto();
    form->Timer1Timer();
    ASSERT_TRUE(fakes->media->playing);
    Auto();
    EXPECT_EQ(form->AutoPlay, 0);
    EXPECT_FALSE(form->Timer1->Enabled());
    EXPECT_EQ(form->SpeedButton5->text(), QStringLiteral("現在手動\nモードです"));
    EXPECT_TRUE(fakes->media->playing);
    Auto();
    EXPECT_EQ(form->SpeedButton5->text(), QStringLiteral("現在自動\nモードです"));
    form->SwitchToManualPlay();
    EXPECT_EQ(form->AutoPlay, 0);
    form->SwitchToManualPlay();  // already manual: stays manual
    EXPECT_EQ(form->AutoPlay, 0);
    EXPECT_TRUE(fakes->media->playing);
}

TEST_F(ContinuousPlayTest, FailedOpenMovesOnAndNoTickStartsAnActivationUnderAQuestion) {
    const std::string bad = Media("bad.mpg");
    const std::string prog = Media("tool.EXE");
    const std::string good = Media("good.mp3");
    for (const auto& p : {bad, prog, good}) form->CheckListBox1->Add(p);
    fakes->media->failing = {bad};
    form->Label9->setText(QStringLiteral("残り0.0%"));
    form->CheckListBox1->SetItemIndex(2);
    Auto();
    form->Timer1Timer();  // wraps to the broken file: its error box, the display still ended
    ASSERT_EQ(boxes->TextsOf(platform::BoxKind::Error),
              (std::vector<QString>{QStringLiteral("ご指定のファイルは壊れている\r\n可能性があります。")}));
    EXPECT_FALSE(fakes->media->open);
    // The next step reaches the program; while its question waits, more steps come.
    int nested = 0;
    boxes->whileWaiting = [&](const platform::FakeMessageBoxes::Shown&) {
        ++nested;
        form->Timer2Timer();
        form->Timer1Timer();
        form->Timer1Timer();
    };
    form->Timer1Timer();
    EXPECT_EQ(nested, 1);  // one question only
    EXPECT_EQ(Selected(), 1);
    EXPECT_TRUE(fakes->programs->started.empty());  // the answer was No
    boxes->whileWaiting = nullptr;
    form->Timer1Timer();  // and the cycle goes on
    EXPECT_EQ(Selected(), 2);
    EXPECT_EQ(fakes->media->file, good);
}

}  // namespace
