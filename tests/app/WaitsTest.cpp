// Every timer tick and a list click, fired from inside each wait that runs the event loop
// under a handler: the handler that waits still does its work once, and nothing it was
// doing is lost or done twice. docs/waits.md lists the waits and what guards each.
#include <QDir>
#include <QImage>
#include <QTimer>
#include <algorithm>
#include <functional>

#include "Fixtures.h"
#include "download/Catalogue.h"
#include "download/TForm5.h"
#include "net/FtpClient.h"
#include "player/Playback.h"
#include "support/SiteServer.h"

using platform::BoxAnswer;
using platform::BoxKind;

namespace {

struct Reentry {
    const char* name;
    std::function<void(TForm1&)> fire;
};

// The list click selects the first entry, as a click on it would.
void ClickFirst(TForm1& f) {
    if (f.CheckListBox1->Count() == 0) return;
    f.CheckListBox1->SetItemIndex(0);
    f.CheckListBox1Click();
}

const Reentry kReentries[] = {
    {"Timer1", [](TForm1& f) { f.Timer1Timer(); }}, {"Timer2", [](TForm1& f) { f.Timer2Timer(); }},
    {"Timer3", [](TForm1& f) { f.Timer3Timer(); }}, {"Timer4", [](TForm1& f) { f.Timer4Timer(); }},
    {"Timer5", [](TForm1& f) { f.Timer5Timer(); }}, {"Timer6", [](TForm1& f) { f.Timer6Timer(); }},
    {"ListClick", ClickFirst},
};

std::string SongBytes(int seed, size_t size) {
    std::string s(size, '\0');
    for (auto& c : s) c = static_cast<char>(seed += 7);
    return s;
}

class Waits : public MainWindowFixture, public ::testing::WithParamInterface<Reentry> {
protected:
    void Fire() {
        ++fired;
        GetParam().fire(*form);
    }
    // The continuous play tick would move on: the song shown has ended.
    void SongEnded() { form->Label9->setText(QStringLiteral("残り0.0%")); }
    void List(const std::vector<std::string>& paths) {
        for (const auto& p : paths) {
            WriteFile(p, "x");
            form->CheckListBox1->Add(p);
        }
        form->CheckListBox1->SetItemIndex(0);
    }
    int fired = 0;
};

// The socket waits of a download run: every read of a song's connection.
TEST_P(Waits, InsideTheSocketWaitsOfADownloadRun) {
    const std::string site = Path("site");
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(site)));
    std::string header = "message\r\n";
    for (const char* name : {"a.wav", "b.wav"}) {
        header += std::string(name) + "\r\n" + name + "\r\n";
        WriteFile(site + "/" + name, SongBytes(name[0], 40000));
    }
    WriteFile(site + "/header.txt", header);
    testsite::SiteServer server(site, Path("commands.log"));
    boxes->answers.push_back(BoxAnswer::Yes);
    form->Button2Click();
    form->Timer5Timer();
    ASSERT_EQ(Form5->CheckListBox1->Count(), 2);

    auto original = form->FtpClient1->OnStatus;
    form->FtpClient1->ReportLevel = 8;
    form->FtpClient1->OnStatus = [&, original](TBlockingSocket* s, const std::string& text) {
        original(s, text);
        if (text == "ReadLn" && form->Download.Busy() && fired < 40) Fire();
    };
    boxes->answers.push_back(BoxAnswer::Yes);
    Form5->Button4Click();
    for (int i = 0; i < 400 && form->Timer6->Enabled(); ++i) form->Timer6Timer();
    form->FtpClient1->ReportLevel = 0;
    form->FtpClient1->OnStatus = original;

    EXPECT_GT(fired, 2);
    EXPECT_FALSE(form->Timer6->Enabled());
    std::vector<std::string> kept;
    for (int i = 0; i < form->CheckListBox1->Count(); ++i) kept.push_back(form->CheckListBox1->Text(i));
    EXPECT_EQ(kept, (std::vector<std::string>{Path("a.wav"), Path("b.wav")}));
    EXPECT_EQ(ReadFile(Path("b.wav")), SongBytes('b', 40000));
    const auto commands = server.Commands();
    for (const char* retr : {"RETR a.wav", "RETR b.wav"})
        EXPECT_EQ(std::count(commands.begin(), commands.end(), retr), 1) << retr;
    std::vector<std::string> logged;
    platform::ReadTextLines(Path("SearchView.dwn"), [&](const std::string& l) { logged.push_back(l); });
    EXPECT_EQ(logged.size(), 2u);
    EXPECT_FALSE(form->FtpClient1->Connected());
}

// The full search's question, after as many matches as its limit: a box waits.
TEST_P(Waits, InsideTheFullSearchsQuestion) {
    const std::string root = Path("R") + "/";
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(root)));
    for (int i = 0; i < 6; ++i) WriteFile(root + "s" + std::to_string(i) + ".mp3", "x");
    fakes->drives->roots.push_back(root);
    form->SearchLimit = 2;
    boxes->fallback = BoxAnswer::Yes;
    boxes->whileWaiting = [&](const platform::FakeMessageBoxes::Shown& box) {
        if (box.kind == BoxKind::Confirmation && box.text.contains(QStringLiteral("このまま、処理を\r\n続けますか")) &&
            fired == 0)
            Fire();
    };
    form->SpeedButton1Click();

    EXPECT_EQ(fired, 1);
    EXPECT_EQ(form->CheckListBox1->Count(), 6);
    const auto informed = boxes->TextsOf(BoxKind::Information);
    EXPECT_EQ(std::count(informed.begin(), informed.end(), QStringLiteral("処理を中断しました")), 0);
    EXPECT_TRUE(platform::PathExists(Path("SearchView.MP3")));
}

// An activation's question before it starts a program: a box waits.
TEST_P(Waits, InsideTheActivationsQuestion) {
    if (std::string(GetParam().name) == "ListClick")
        GTEST_SKIP() << "the box is modal: no click reaches the list while it waits";
    List({Path("a.exe"), Path("b.exe")});
    SongEnded();
    boxes->fallback = BoxAnswer::Yes;
    boxes->whileWaiting = [&](const platform::FakeMessageBoxes::Shown&) {
        if (fired == 0) Fire();
    };
    form->CheckListBox1Click();

    EXPECT_EQ(fired, 1);
    EXPECT_EQ(fakes->programs->started.size(), 1u);
    EXPECT_EQ(form->CheckListBox1->ItemIndex(), 0);
}

// A picture decoded in the helper process: the event loop runs until it answers.
TEST_P(Waits, InsideThePictureHelpersWait) {
    List({Path("p.bmp"), Path("q.bmp")});
    for (const char* name : {"p.bmp", "q.bmp"}) {
        QImage image(32, 24, QImage::Format_RGB32);
        image.fill(name[0] == 'p' ? Qt::red : Qt::blue);
        ASSERT_TRUE(image.save(QString::fromStdString(Path(name)), "BMP"));
    }
    SongEnded();
    // What one activation of the picture counts, without anything inside its wait.
    unsigned before = player::ActivationCount();
    form->CheckListBox1Click();
    const unsigned one = player::ActivationCount() - before;
    before = player::ActivationCount();
    bool outside = false;
    QTimer::singleShot(0, form, [&] {
        outside = form->ActivationDepth == 0;
        Fire();
    });
    form->CheckListBox1Click();
    ASSERT_FALSE(outside) << "the helper's wait ran no event loop";

    EXPECT_EQ(fired, 1);
    EXPECT_EQ(form->CheckListBox1->ItemIndex(), 0);
    EXPECT_TRUE(boxes->shown.empty());
    const bool clicked = std::string(GetParam().name) == "ListClick";
    EXPECT_EQ(player::ActivationCount() - before, clicked ? 2 * one : one);
    // The picture of the entry clicked last is the one shown.
    const QPixmap shown = form->Image1->pixmap();
    ASSERT_FALSE(shown.isNull());
    EXPECT_EQ(shown.toImage().pixelColor(1, 1), QColor(Qt::red));
}

INSTANTIATE_TEST_SUITE_P(EveryTick, Waits, ::testing::ValuesIn(kReentries),
                         [](const ::testing::TestParamInfo<Reentry>& info) { return std::string(info.param.name); });

}  // namespace
