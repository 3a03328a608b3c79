// The idle check against keys typed into another program on a real X server.
#include <gtest/gtest.h>

#include <QCheckBox>

#include "SearchFixture.h"
#include "support/DesktopServers.h"

namespace {

class IdleDesktopKeysTest : public SearchFixture {
protected:
    static void SetUpTestSuite() { server_ = new testsupport::XvfbServer; }
    static void TearDownTestSuite() {
        delete server_;
        server_ = nullptr;
    }
    void SetUp() override {
        SearchFixture::SetUp();
        ASSERT_TRUE(server_->Running());
        typist = std::make_unique<testsupport::XTestKeyboard>(server_->Name());
        ASSERT_TRUE(typist->Open());
        std::string why;
        auto keys = platform::X11DesktopKeyState::Open(server_->Name(), &why);
        ASSERT_TRUE(keys) << why;
        platform::Current().keys = std::move(keys);
        form->CheckBox2->setChecked(true);
        form->CheckBox2Click();
        desktop->cursor = form->LastCursorPos;
    }
    // One idle check, as the timer runs it a while after the previous one.
    void Tick() {
        testsupport::RunEventsFor(30);
        form->Timer3Timer();
    }
    QString Countdown(int left) const {
        return QStringLiteral("残り") + QString::number(left) + QStringLiteral("秒で自動検索モードへ移行予定");
    }

    static testsupport::XvfbServer* server_;
    std::unique_ptr<testsupport::XTestKeyboard> typist;
};
testsupport::XvfbServer* IdleDesktopKeysTest::server_ = nullptr;

TEST_F(IdleDesktopKeysTest, TypingIntoAnotherProgramResetsTheCountdown) {
    Tick();
    Tick();
    EXPECT_EQ(form->Label10->text(), Countdown(298));
    // A letter typed and released between two checks, about once a second.
    for (const char* key : {"t", "y", "p", "e"}) {
        SCOPED_TRACE(key);
        typist->Tap(key);
        Tick();
        EXPECT_EQ(form->IdleSeconds, 0);
        EXPECT_EQ(form->Label10->text(), QStringLiteral("　　　　　　　　　　　　　"));
    }
    Tick();
    EXPECT_EQ(form->Label10->text(), Countdown(299));
    // Keys the check does not watch leave the countdown running.
    for (const char* key : {"F1", "Return", "Shift_L"}) typist->Tap(key);
    Tick();
    EXPECT_EQ(form->Label10->text(), Countdown(298));
    Tick();
    EXPECT_EQ(form->Label10->text(), Countdown(297));
}

}  // namespace
