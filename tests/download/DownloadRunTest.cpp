// Catalogue fetch and download runs against the demo site on loopback, through the
// windows' handlers, with the ticks called directly.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <QTemporaryDir>
#include <filesystem>
#include <QTimer>
#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>

#include "Fixtures.h"
#include "MountedFolder.h"
#include "LoopGap.h"
#include "download/Catalogue.h"
#include "support/SiteServer.h"
#include "download/TForm5.h"
#include "net/FtpClient.h"
#include "platform/Guard.h"
#include "app/InstanceLock.h"

using platform::BoxAnswer;
using platform::BoxKind;

namespace {

std::string Sjis(const std::string& utf8) {
    std::string out;
    download::EncodeSjis(utf8, out);
    return out;
}

std::string SongBytes(int seed, size_t size) {
    std::string s(size, '\0');
    uint32_t x = 2654435761u * static_cast<uint32_t>(seed + 1);
    for (auto& c : s) {
        x = x * 1664525u + 1013904223u;
        c = static_cast<char>(x >> 24);
    }
    return s;
}

long long SizeOf(const std::string& path) {
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

}  // namespace

class DownloadRun : public MainWindowFixture {
protected:
    struct Entry {
        std::string name;  // catalogue bytes (Shift-JIS)
        std::string display;
        std::string content;  // served when not empty
    };

    void SetUp() override {
        MainWindowFixture::SetUp();
        site = dir + "/site";
        mkdir(site.c_str(), 0755);
        log = dir + "/commands.log";
    }
    void TearDown() override {
        server.reset();
        MainWindowFixture::TearDown();
    }

    void Serve(const std::vector<Entry>& entries, const std::vector<std::string>& extra = {}) {
        std::string header = Sjis("館長からの一言です") + "\r\n";
        for (const auto& e : entries) {
            header += e.name + "\r\n" + Sjis(e.display) + "\r\n";
            if (!e.content.empty()) WriteFile(site + "/" + download::LocalName(e.name), e.content);
        }
        WriteFile(site + "/header.txt", header);
        entries_ = entries;
        server = std::make_unique<testsite::SiteServer>(site, log, extra);
    }

    void Fetch() {
        boxes->answers.push_back(BoxAnswer::Yes);
        form->Button2Click();
        form->Timer5Timer();
    }

    // Ticks of Timer6 until the run is over; the status text after each tick.
    std::vector<QString> RunTicks() {
        std::vector<QString> statuses;
        for (int i = 0; i < 400 && form->Timer6->Enabled(); ++i) {
            form->Timer6Timer();
            statuses.push_back(form->StatusBar1->SimpleText());
        }
        return statuses;
    }

    void StartAll() {
        boxes->answers.push_back(BoxAnswer::Yes);
        Form5->Button4Click();
    }

    int Count(const std::string& prefix) const {
        auto cmds = server->Commands();
        return static_cast<int>(std::count_if(cmds.begin(), cmds.end(),
                                              [&](const std::string& c) { return c.rfind(prefix, 0) == 0; }));
    }

    std::vector<std::string> LogLines() const {
        std::vector<std::string> out;
        platform::ReadTextLines(Path("SearchView.dwn"), [&](const std::string& l) { out.push_back(l); });
        return out;
    }

    // Whether each control that the catalogue fetch takes away can be used, in the order the
    // connect button takes them; the idle delay box follows its check box and is left out.
    std::vector<bool> HeldControls() const {
        std::vector<bool> out;
        for (QWidget* w : std::initializer_list<QWidget*>{form->Label1, form->SpeedButton1, form->SpeedButton2,
                                                          form->SpeedButton5, form->Button1, form->Button2,
                                                          form->Button5, form->ComboBox2, form->CheckBox2})
            out.push_back(w->isEnabled());
        out.push_back(form->ComboBox3->isEnabled() == form->CheckBox2->isChecked());
        return out;
    }
    // Every held control disabled; `connect`: but the connect button, which comes back with
    // the list window's close. The delay box is disabled whatever its check box says.
    std::vector<bool> Held(bool connect = false) const {
        std::vector<bool> v(10, false);
        v[5] = connect;
        v[9] = !form->CheckBox2->isChecked();
        return v;
    }
    static inline const std::vector<bool> kGivenBack = std::vector<bool>(10, true);

    std::string site, log;
    std::vector<Entry> entries_;
    std::unique_ptr<testsite::SiteServer> server;
};

TEST_F(DownloadRun, FetchThenRunOfAllSongs) {
    Serve({{Sjis("春の小川.wav"), "春の小川", SongBytes(1, 300000)},
           {Sjis("ソナタ.mp3"), "ソナタ", SongBytes(2, 1)},
           {"plain.wav", "plain", SongBytes(3, 70000)}});
    Fetch();
    EXPECT_TRUE(Form5->isVisible());
    ASSERT_EQ(Form5->CheckListBox1->Count(), 3);
    EXPECT_EQ(Form5->CheckListBox1->Text(0), QStringLiteral("春の小川"));
    EXPECT_EQ(Form5->Memo1->toPlainText(), QStringLiteral("\n館長からの一言です"));
    EXPECT_EQ(form->CatalogueFiles[1], Sjis("ソナタ.mp3"));
    EXPECT_FALSE(form->FtpClient1->Connected());
    EXPECT_FALSE(form->Timer5->Enabled());
    EXPECT_EQ(form->StatusBar1->SimpleText(), QString());

    StartAll();
    EXPECT_EQ(form->AutoPlay, 1);
    EXPECT_TRUE(form->Timer1->Enabled());
    // The first song joins the main list for continuous play while the others still wait.
    for (int i = 0; i < 10 && form->CheckListBox1->Count() == 0; ++i) form->Timer6Timer();
    ASSERT_EQ(Entries(), std::vector<std::string>{Path("春の小川.wav")});
    EXPECT_TRUE(form->Timer6->Enabled());
    EXPECT_TRUE(Form5->CheckListBox1->Checked(2));

    RunTicks();
    EXPECT_FALSE(form->Timer6->Enabled());
    EXPECT_EQ(Entries(), (std::vector<std::string>{Path("春の小川.wav"), Path("ソナタ.mp3"), Path("plain.wav")}));
    EXPECT_EQ(form->Label8->text(), QStringLiteral("リスト数3"));
    EXPECT_EQ(LogLines(), Entries());
    for (const auto& e : entries_) EXPECT_EQ(ReadFile(Path(download::LocalName(e.name))), e.content);
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(Form5->CheckListBox1->Checked(i));
    EXPECT_EQ(form->DownloadIndex, 3);
    EXPECT_EQ(form->DownloadState, download::Phase::Waiting);
    EXPECT_FALSE(form->FtpClient1->Connected());
    EXPECT_EQ(Form5->Button1->text(), QStringLiteral("DOWNLOAD"));
    EXPECT_EQ(Count("USER "), 4);  // one connection for the catalogue, one per song

    // A second fetch replaces the list but adds its message below the first.
    Fetch();
    EXPECT_EQ(Form5->CheckListBox1->Count(), 3);
    EXPECT_EQ(Form5->Memo1->toPlainText(), QStringLiteral("\n館長からの一言です\n館長からの一言です"));
}

TEST_F(DownloadRun, TickBetweenTheTwoEndReportsCompletesTheSongOnce) {
    Serve({{"a.wav", "a", SongBytes(1, 50000)}, {"b.wav", "b", SongBytes(2, 50000)}});
    Fetch();
    // A tick falls between the report after the data and the one after the final reply.
    auto original = form->FtpClient1->OnTransactionStop;
    int stops = 0;
    form->FtpClient1->OnTransactionStop = [&, original](TBlockingSocket* s) {
        original(s);
        if (++stops % 2 == 1) form->Timer6Timer();
    };
    StartAll();
    RunTicks();
    EXPECT_EQ(stops, 4);
    EXPECT_EQ(Entries(), (std::vector<std::string>{Path("a.wav"), Path("b.wav")}));
    EXPECT_EQ(LogLines().size(), 2u);
    EXPECT_EQ(Count("QUIT"), 3);
    EXPECT_FALSE(form->FtpClient1->Connected());
}

TEST_F(DownloadRun, TickWhileTheSongsConnectionClosesWaitsForTheClose) {
    // A kept song (a.wav), a refused one (gone.wav) and one after each: Timer6 ticks while
    // every song's connection waits for the answer to QUIT.
    Serve({{"a.wav", "a", SongBytes(1, 20000)},
           {"gone.wav", "gone", ""},
           {"b.wav", "b", SongBytes(2, 20000)},
           {"c.wav", "c", SongBytes(3, 20000)}});
    Fetch();
    auto original = form->FtpClient1->OnStatus;
    form->FtpClient1->ReportLevel = 8;
    bool quitSent = false;
    int ticks = 0;
    form->FtpClient1->OnStatus = [&, original](TBlockingSocket* s, const std::string& text) {
        original(s, text);
        if (text == "QUIT") quitSent = true;
        // The first read after QUIT is the wait for its answer.
        if (text == "ReadLn" && quitSent) {
            quitSent = false;
            ++ticks;
            form->Timer6Timer();
        }
    };
    StartAll();
    auto statuses = RunTicks();
    EXPECT_EQ(ticks, 4);  // one per song
    EXPECT_EQ(Count("RETR gone.wav"), 1);  // refused by the server, not lost on a closing connection
    for (const auto& s : statuses) EXPECT_FALSE(s.contains(QStringLiteral("closed by server"))) << s.toStdString();
    EXPECT_EQ(Entries(), (std::vector<std::string>{Path("a.wav"), Path("b.wav"), Path("c.wav")}));
    EXPECT_EQ(LogLines(), Entries());
    EXPECT_TRUE(Form5->CheckListBox1->Checked(1));
    EXPECT_EQ(Count("USER "), 5);  // the catalogue's connection and one per song
    EXPECT_EQ(Count("QUIT"), 5);
    EXPECT_FALSE(form->Timer6->Enabled());
    EXPECT_FALSE(form->FtpClient1->Connected());
    // The client's last reports come while the window is torn down.
    form->FtpClient1->ReportLevel = 0;
    form->FtpClient1->OnStatus = original;
}

TEST_F(DownloadRun, RefusedSongAndServerClosingMidSongAreSkipped) {
    Serve({{"one.wav", "1", SongBytes(1, 40000)},
           {"missing.wav", "missing", ""},
           {"cut.wav", "cut", SongBytes(3, 600000)},
           {"four.wav", "4", SongBytes(4, 40000)}},
          {"--cut", "cut.wav:100000"});
    Fetch();
    StartAll();
    auto statuses = RunTicks();
    EXPECT_EQ(Entries(), (std::vector<std::string>{Path("one.wav"), Path("four.wav")}));
    EXPECT_EQ(LogLines(), Entries());
    EXPECT_FALSE(Form5->CheckListBox1->Checked(0));
    EXPECT_TRUE(Form5->CheckListBox1->Checked(1));
    EXPECT_TRUE(Form5->CheckListBox1->Checked(2));
    EXPECT_FALSE(Form5->CheckListBox1->Checked(3));
    EXPECT_FALSE(platform::FileExists(Path("missing.wav")));
    EXPECT_FALSE(platform::FileExists(Path("cut.wav")));
    EXPECT_NE(std::find(statuses.begin(), statuses.end(), QStringLiteral("アボートしました")), statuses.end());
    EXPECT_EQ(form->Label8->text(), QStringLiteral("リスト数2"));
    EXPECT_FALSE(form->FtpClient1->Connected());
}

TEST_F(DownloadRun, CancelDuringTransferLeavesTempAndNoEntry) {
    Serve({{"slow.wav", "slow", SongBytes(1, 1000000)}, {"next.wav", "next", SongBytes(2, 1000)}},
          {"--write-limit", "200000"});
    Fetch();
    QTimer watch;
    bool cancelled = false;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (cancelled || SizeOf(Path("temp")) < 20000) return;
        cancelled = true;
        Form5->Button1Click();  // reads "CANCEL": no question
        form->Timer6Timer();
    });
    watch.start(5);
    StartAll();
    RunTicks();
    watch.stop();
    ASSERT_TRUE(cancelled);
    EXPECT_EQ(form->StatusBar1->SimpleText(), QStringLiteral("アボートしました"));
    EXPECT_GT(SizeOf(Path("temp")), 0);
    EXPECT_LT(SizeOf(Path("temp")), 1000000);
    EXPECT_TRUE(Entries().empty());
    EXPECT_FALSE(platform::FileExists(Path("SearchView.dwn")));
    EXPECT_TRUE(Form5->CheckListBox1->Checked(0));
    EXPECT_TRUE(Form5->CheckListBox1->Checked(1));
    EXPECT_EQ(form->DownloadIndex, -1);
    EXPECT_EQ(Form5->Button1->text(), QStringLiteral("DOWNLOAD"));
    EXPECT_EQ(Count("RETR next.wav"), 0);
}

TEST_F(DownloadRun, FetchAndRestartDuringATransferWaitForIt) {
    Serve({{"slow.wav", "slow", SongBytes(1, 600000)}, {"next.wav", "next", SongBytes(2, 1000)}},
          {"--write-limit", "200000"});
    Fetch();
    QTimer watch;
    bool acted = false;
    int retrWhileBusy = -1;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (acted || SizeOf(Path("temp")) < 20000) return;
        acted = true;
        // The connect button brings the list window back while the run goes on.
        Form5->close();
        form->Button2Click();
        EXPECT_TRUE(Form5->isVisible());
        EXPECT_EQ(Form5->Button1->text(), QStringLiteral("CANCEL"));
        // Cancel, then start afresh at once: the new run waits for the aborted transfer.
        Form5->Button1Click();
        form->Timer6Timer();
        boxes->answers.push_back(BoxAnswer::Yes);
        Form5->Button1Click();
        form->Timer6Timer();
        form->Timer6Timer();
        retrWhileBusy = Count("RETR ");
        EXPECT_EQ(form->DownloadIndex, -1);
    });
    watch.start(5);
    StartAll();
    form->Timer6Timer();  // the first song, until it is aborted
    watch.stop();
    ASSERT_TRUE(acted);
    EXPECT_EQ(retrWhileBusy, 2);  // the catalogue and the first song
    EXPECT_TRUE(boxes->TextsOf(BoxKind::Information).empty());
    // The aborted transfer moved nothing; the new run then fetches both songs.
    EXPECT_EQ(form->DownloadState, download::Phase::NextSong);
    RunTicks();
    EXPECT_EQ(Entries(), (std::vector<std::string>{Path("slow.wav"), Path("next.wav")}));
    EXPECT_EQ(ReadFile(Path("slow.wav")), entries_[0].content);
    EXPECT_FALSE(form->FtpClient1->Connected());
}

TEST_F(DownloadRun, AlreadyObtainedSongsAreSkippedWithCheckBox1) {
    Serve({{"have.wav", "have", SongBytes(1, 1000)}, {"new.wav", "new", SongBytes(2, 1000)}});
    Fetch();
    WriteFile(Path("have.wav"), "mine");
    Form5->Button2Click();
    boxes->answers.push_back(BoxAnswer::Yes);
    Form5->Button1Click();
    ASSERT_EQ(boxes->TextsOf(BoxKind::Confirmation).back(),
              QStringLiteral("演奏リストにチェックをつけた曲を順番にダウンロードしつつ、連続演奏を開始します。いいですか？\n"
                             "現在既に入手済み曲は、新たにﾀﾞｳﾝﾛｰﾄﾞせず、それを演奏する設定になっています"));
    EXPECT_EQ(Entries(), std::vector<std::string>{"have.wav"});
    RunTicks();
    EXPECT_EQ(ReadFile(Path("have.wav")), "mine");
    EXPECT_EQ(Count("RETR have.wav"), 0);
    EXPECT_EQ(Entries(), (std::vector<std::string>{"have.wav", Path("new.wav")}));

    // Unchecked, an obtained song is fetched again and replaces the file.
    Form5->CheckBox1->setChecked(false);
    StartAll();
    RunTicks();
    EXPECT_EQ(ReadFile(Path("have.wav")), entries_[0].content);
    EXPECT_EQ(LogLines().size(), 3u);
}

TEST_F(DownloadRun, HostileNamesNeverLeaveTheFolderNorReachTheServer) {
    const std::string tag = std::to_string(::getpid()) + "-" + std::to_string(reinterpret_cast<uintptr_t>(this));
    const std::string up = "../escape-" + tag + ".wav";
    QTemporaryDir outside;  // a folder beside the working folder, the target of an absolute name
    ASSERT_TRUE(outside.isValid());
    const std::string abs = outside.path().toStdString() + "/abs-" + tag + ".wav";
    WriteFile(site + "/x.wav", "x");
    Serve({{up, "up", ""},
           {abs, "abs", ""},
           {"sub/dir.wav", "sub", ""},
           {"..", "dots", ""},
           {"C:drive.wav", "drive", ""},
           {"x.wav\nDELE x.wav", "newline", ""},
           {"ctl\x01.wav", "control", ""},
           {"good.wav", "good", SongBytes(5, 5000)}});
    Fetch();
    ASSERT_EQ(Form5->CheckListBox1->Count(), 8);
    StartAll();
    auto statuses = RunTicks();
    EXPECT_EQ(Entries(), std::vector<std::string>{Path("good.wav")});
    for (int i = 0; i < 7; ++i) EXPECT_TRUE(Form5->CheckListBox1->Checked(i)) << i;
    for (const char* reason : {"パス区切り", "親フォルダ", "ドライブ", "改行", "制御文字"}) {
        bool seen = std::any_of(statuses.begin(), statuses.end(), [&](const QString& s) {
            return s.startsWith(QStringLiteral("入手できません: ")) && s.contains(QString::fromUtf8(reason));
        });
        EXPECT_TRUE(seen) << reason;
    }
    auto cmds = server->Commands();
    for (const auto& c : cmds) {
        EXPECT_NE(c.rfind("DELE", 0), 0u) << c;
        if (c.rfind("RETR ", 0) == 0) {
            EXPECT_TRUE(c == "RETR header.txt" || c == "RETR good.wav") << c;
        }
    }
    EXPECT_EQ(Count("USER "), 2);  // refused names never connect
    EXPECT_FALSE(platform::PathExists(dir + "/" + up));
    EXPECT_FALSE(platform::PathExists(abs));
    EXPECT_FALSE(platform::PathExists(Path("sub")));
    EXPECT_EQ(ReadFile(site + "/x.wav"), "x");
}

TEST_F(DownloadRun, ServerThatIsDown) {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);  // nothing listens there now
    std::string siteAddr = "127.0.0.1:" + std::to_string(ntohs(a.sin_port));
    setenv("TESSALY_SITE", siteAddr.c_str(), 1);

    boxes->answers.push_back(BoxAnswer::Yes);
    platform::Guarded([&] { form->Button2Click(); });
    EXPECT_EQ(boxes->TextsOf(BoxKind::Error), std::vector<QString>{QStringLiteral("Not Connected")});
    EXPECT_FALSE(Form5->isVisible());
    EXPECT_FALSE(form->Timer5->Enabled());
    // The main window is the user's again: to try once more, or to do something else.
    EXPECT_EQ(HeldControls(), std::vector<bool>(10, true));
    EXPECT_FALSE(form->ComboBox3->isEnabled());  // its idle-search permission is off

    // A run against it: every song fails to connect, one status line each, no boxes.
    form->CatalogueFiles[0] = "a.wav";
    form->CatalogueFiles[1] = "b.wav";
    Form5->CheckListBox1->Add(QStringLiteral("a"));
    Form5->CheckListBox1->Add(QStringLiteral("b"));
    size_t boxesBefore = boxes->shown.size();
    StartAll();
    RunTicks();
    unsetenv("TESSALY_SITE");
    EXPECT_EQ(boxes->shown.size(), boxesBefore + 1);  // the question only
    EXPECT_TRUE(form->StatusBar1->SimpleText().startsWith(QStringLiteral("接続できませんでした: ")));
    EXPECT_TRUE(Form5->CheckListBox1->Checked(0));
    EXPECT_TRUE(Form5->CheckListBox1->Checked(1));
    EXPECT_EQ(form->DownloadIndex, 2);
    EXPECT_FALSE(form->Timer6->Enabled());
}

// Continuous play reaches the downloaded songs through the main list while the run goes on:
// the first song plays before the last one has arrived, and the next song follows it.
TEST_F(DownloadRun, ContinuousPlayPicksUpSongsWhileLaterOnesArrive) {
    Serve({{"a.wav", "a", SongBytes(1, 40000)}, {"b.wav", "b", SongBytes(2, 40000)}, {"c.wav", "c", SongBytes(3, 40000)}});
    Fetch();
    StartAll();
    ASSERT_EQ(form->AutoPlay, 1);
    auto* media = fakes->media;
    auto playTicks = [&] {
        form->Timer2Timer();
        form->Timer1Timer();
    };
    for (int i = 0; i < 20 && form->CheckListBox1->Count() == 0; ++i) form->Timer6Timer();
    ASSERT_EQ(form->CheckListBox1->Count(), 1);
    ASSERT_TRUE(form->Timer6->Enabled());

    playTicks();  // selects and opens the first song
    playTicks();  // starts it
    EXPECT_EQ(media->file, Path("a.wav"));
    EXPECT_TRUE(media->playing);
    EXPECT_LT(form->CheckListBox1->Count(), 3);

    // The rest arrives while the first song plays; then the first song ends.
    RunTicks();
    ASSERT_EQ(form->CheckListBox1->Count(), 3);
    media->position = media->length;
    playTicks();
    EXPECT_EQ(form->Label9->text(), QStringLiteral("残り0.0%"));
    EXPECT_EQ(form->CheckListBox1->ItemIndex(), 1);
    EXPECT_EQ(media->file, Path("b.wav"));
    playTicks();
    EXPECT_TRUE(media->playing);
    EXPECT_EQ(std::count(media->calls.begin(), media->calls.end(), "play"), 2);
}

// The main window is the user's again once the list window is closed with no song on its way:
// every control the fetch took comes back, the delay box with its permission. While the list
// is open, or a song is on its way, they stay away.
TEST_F(DownloadRun, MainWindowComesBackWhenTheListClosesWithNoSongOnItsWay) {
    Serve({{"a.wav", "a", SongBytes(1, 30000)}, {"b.wav", "b", SongBytes(2, 30000)}});
    form->CheckBox2->setChecked(true);
    form->CheckBox2Click();
    Fetch();
    ASSERT_TRUE(Form5->isVisible());
    EXPECT_EQ(HeldControls(), Held());
    Form5->close();
    EXPECT_FALSE(Form5->isVisible());
    EXPECT_EQ(HeldControls(), kGivenBack);
    EXPECT_TRUE(form->ComboBox3->isEnabled());

    // Failure twin: closed while a run goes on, only the connect button comes back; the rest
    // follows when the run ends.
    Fetch();
    StartAll();
    form->Timer6Timer();  // the first song arrives
    ASSERT_TRUE(form->Timer6->Enabled());
    Form5->close();
    EXPECT_EQ(HeldControls(), Held(true));
    RunTicks();
    EXPECT_EQ(Entries(), (std::vector<std::string>{Path("a.wav"), Path("b.wav")}));
    EXPECT_EQ(HeldControls(), kGivenBack);
    // Continuous play, switched on by the run, can be switched off again.
    ASSERT_EQ(form->AutoPlay, 1);
    form->SpeedButton5->click();
    EXPECT_EQ(form->AutoPlay, 0);

    // A run that ends while the list window is open leaves the controls away until it closes.
    Fetch();
    StartAll();
    RunTicks();
    EXPECT_FALSE(form->Timer6->Enabled());
    EXPECT_EQ(HeldControls(), Held());
    Form5->close();
    EXPECT_EQ(HeldControls(), kGivenBack);
}

// A fetch that fails gives the main window back at its end: refused by the server, or cut.
TEST_F(DownloadRun, FailedFetchGivesTheMainWindowBack) {
    Serve({{"a.wav", "a", SongBytes(1, 1000)}});
    ::unlink((site + "/header.txt").c_str());  // the server refuses the catalogue
    Fetch();
    EXPECT_FALSE(Form5->isVisible());
    EXPECT_FALSE(form->Timer5->Enabled());
    EXPECT_EQ(form->StatusBar1->SimpleText(), QStringLiteral("アボートしました"));
    EXPECT_EQ(HeldControls(), kGivenBack);
    EXPECT_FALSE(form->FtpClient1->Connected());
    // A tick before the transfer's outcome (the failure twin) keeps them away.
    boxes->answers.push_back(BoxAnswer::Yes);
    auto original = form->FtpClient1->OnTransactionStart;
    form->FtpClient1->OnTransactionStart = [&, original](TBlockingSocket* sock) {
        original(sock);
        form->Timer5Timer();
        EXPECT_EQ(HeldControls(), Held());
    };
    WriteFile(site + "/header.txt", "message\r\na.wav\r\na\r\n");
    form->Button2Click();
    form->Timer5Timer();
    EXPECT_TRUE(Form5->isVisible());
    EXPECT_EQ(HeldControls(), Held());
}

// Pressing 接続 while a song is on its way brings back the list window with its CANCEL, which
// then ends the run; the main window comes back once the cancelled transfer has unwound.
TEST_F(DownloadRun, ConnectDuringARunShowsTheListAndCancelWorks) {
    Serve({{"slow.wav", "slow", SongBytes(1, 800000)}, {"next.wav", "next", SongBytes(2, 1000)}},
          {"--write-limit", "200000"});
    Fetch();
    StartAll();
    Form5->close();
    const size_t questionsBefore = boxes->TextsOf(BoxKind::Confirmation).size();
    QTimer watch;
    bool acted = false;
    std::vector<bool> whileUnwinding;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (acted || SizeOf(Path("temp")) < 20000) return;
        acted = true;
        EXPECT_EQ(HeldControls(), Held(true));
        form->Button2->click();
        EXPECT_TRUE(Form5->isVisible());
        EXPECT_EQ(Form5->Button1->text(), QStringLiteral("CANCEL"));
        EXPECT_FALSE(form->Button2->isEnabled());
        Form5->Button1->click();  // CANCEL: no question
        form->Timer6Timer();
        EXPECT_FALSE(form->Timer6->Enabled());
        Form5->close();
        // The transfer still unwinds: a song is on its way until it has.
        whileUnwinding = HeldControls();
    });
    watch.start(5);
    form->Timer6Timer();  // the first song, until it is aborted
    watch.stop();
    ASSERT_TRUE(acted);
    EXPECT_EQ(whileUnwinding, Held(true));
    EXPECT_EQ(boxes->TextsOf(BoxKind::Confirmation).size(), questionsBefore);  // nothing asked
    EXPECT_FALSE(Form5->isVisible());
    EXPECT_EQ(HeldControls(), kGivenBack);
    EXPECT_EQ(Count("RETR next.wav"), 0);
    EXPECT_TRUE(Entries().empty());

    // The next 接続 is a catalogue fetch again, which the cancelled song's late reports do not
    // disturb.
    Fetch();
    EXPECT_TRUE(Form5->isVisible());
    EXPECT_EQ(Form5->CheckListBox1->Count(), 2);
    EXPECT_EQ(Count("RETR header.txt"), 2);
}

// The catalogue is fetched beside the older one and takes its place only when whole: a full
// disk says why in a box and leaves the older catalogue; so does a transfer cut short.
TEST_F(DownloadRun, FullDiskDuringTheFetchKeepsTheOlderCatalogueAndSaysWhy) {
    const std::string work = Path("work");
    MountedFolder disk(work, 256 * 1024);
    if (!disk.Mounted()) GTEST_FAIL() << "cannot mount a folder here";
    form->WorkDir = work;
    platform::SetCurrentDir(work);
    const std::string older = "older message\r\nold.wav\r\nold song\r\n";
    WriteFile(work + "/header.txt", older);
    std::vector<Entry> songs;
    for (int i = 0; i < 40; ++i) songs.push_back({"song" + std::to_string(i) + ".wav", std::string(300, 'x'), ""});
    Serve(songs);

    disk.Fill();
    Fetch();
    const auto errors = boxes->TextsOf(BoxKind::Error);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], QStringLiteral("アボートしました\r\nディスクがいっぱいです"));
    EXPECT_EQ(ReadFile(work + "/header.txt"), older);
    EXPECT_FALSE(Form5->isVisible());
    EXPECT_EQ(HeldControls(), kGivenBack);
    // Nothing but the older catalogue and the filler: no temporary file is left.
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(work)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"filler", "header.txt"}));

    // With room again, the new catalogue replaces the older one and is shown.
    ::unlink((work + "/filler").c_str());
    boxes->shown.clear();
    Fetch();
    EXPECT_TRUE(boxes->TextsOf(BoxKind::Error).empty());
    EXPECT_TRUE(Form5->isVisible());
    EXPECT_EQ(Form5->CheckListBox1->Count(), 40);
    EXPECT_EQ(ReadFile(work + "/header.txt"), ReadFile(site + "/header.txt"));
    Form5->close();
    platform::SetCurrentDir(dir);
}

TEST_F(DownloadRun, CatalogueCutShortKeepsTheOlderOne) {
    const std::string older = "older message\r\nold.wav\r\nold song\r\n";
    WriteFile(Path("header.txt"), older);
    std::vector<Entry> songs;
    for (int i = 0; i < 200; ++i) songs.push_back({"song" + std::to_string(i) + ".wav", std::string(300, 'x'), ""});
    Serve(songs, {"--cut", "header.txt:20000"});
    Fetch();
    EXPECT_FALSE(Form5->isVisible());
    EXPECT_EQ(ReadFile(Path("header.txt")), older);
    EXPECT_EQ(form->StatusBar1->SimpleText(), QStringLiteral("アボートしました"));
    EXPECT_TRUE(boxes->TextsOf(BoxKind::Error).empty());  // not the local disk: no box
    EXPECT_EQ(HeldControls(), kGivenBack);
    EXPECT_FALSE(platform::PathExists(platform::ReplaceTempPath(Path("header.txt"))));
}

namespace {

// Every file of a folder with its bytes, hidden ones included; the site's command log, which
// the test keeps there, aside.
std::map<std::string, std::string> FolderFiles(const std::string& folder) {
    std::map<std::string, std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(folder)) {
        if (!e.is_regular_file() || e.path().filename().string().rfind("commands.log", 0) == 0) continue;
        std::ifstream in(e.path(), std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        out[e.path().filename().string()] = ss.str();
    }
    return out;
}

}  // namespace

TEST_F(DownloadRun, HiddenNamesAndTheProgramsOwnFilesAreNeverWritten) {
    // The working folder as the home folder looks when the program was started there.
    WriteFile(Path(".profile"), "the user's profile\n");
    WriteFile(Path(platform::kInstanceLockName), "4242\n");
    WriteFile(Path("SearchView.MP3"), "/m/a.mp3\r\n");
    const auto one = SongBytes(1, 30000), two = SongBytes(2, 20000), three = SongBytes(3, 100);
    Serve({{"one.wav", "1", one},
           {".profile", "profile", "echo site was here\n"},
           {platform::kInstanceLockName, "lock", "9999\n"},
           {"temp", "temp", "site temp"},
           {"SearchView.MP3", "list", "/etc/passwd\r\n"},
           {"temp.wav", "only like temp", two},
           {"SearchViewer.mp3", "only like a list", three}});
    auto expected = FolderFiles(dir);
    Fetch();
    ASSERT_EQ(Form5->CheckListBox1->Count(), 7);
    // Songs already here are fetched again: the site could otherwise replace any file.
    Form5->CheckBox1->setChecked(false);
    StartAll();
    auto statuses = RunTicks();
    EXPECT_FALSE(form->Timer6->Enabled());

    EXPECT_EQ(Entries(), (std::vector<std::string>{Path("one.wav"), Path("temp.wav"), Path("SearchViewer.mp3")}));
    for (int i : {1, 2, 3, 4}) EXPECT_TRUE(Form5->CheckListBox1->Checked(i)) << i;
    for (int i : {0, 5, 6}) EXPECT_FALSE(Form5->CheckListBox1->Checked(i)) << i;
    // Nothing but the catalogue, the songs and the log was written; the rest is as it was.
    expected["header.txt"] = ReadFile(site + "/header.txt");
    expected["one.wav"] = one;
    expected["temp.wav"] = two;
    expected["SearchViewer.mp3"] = three;
    expected["SearchView.dwn"] = Path("one.wav") + "\r\n" + Path("temp.wav") + "\r\n" + Path("SearchViewer.mp3") + "\r\n";
    EXPECT_EQ(FolderFiles(dir), expected);
    // The status said which songs were refused and why; none of them reached the server.
    for (const char* name : {".profile", ".tessaly.lock", "temp", "SearchView.MP3"}) {
        const QString prefix = QStringLiteral("入手できません: ") + QString::fromUtf8(name) + QStringLiteral(": ");
        EXPECT_TRUE(std::any_of(statuses.begin(), statuses.end(), [&](const QString& s) { return s.startsWith(prefix); }))
            << name;
    }
    auto cmds = server->Commands();
    std::vector<std::string> fetched;
    std::copy_if(cmds.begin(), cmds.end(), std::back_inserter(fetched),
                 [](const std::string& c) { return c.rfind("RETR ", 0) == 0; });
    EXPECT_EQ(fetched, (std::vector<std::string>{"RETR header.txt", "RETR one.wav", "RETR temp.wav",
                                                 "RETR SearchViewer.mp3"}));
}

TEST_F(DownloadRun, MegabyteLinesAreShownCutAndTheWindowKeepsAnswering) {
    // A curator's message, then a song line, of 4 MB each without a break opportunity: each
    // shows as its first 1,000 characters and "…", and the songs around it keep their places.
    const std::string huge(4'000'000, 'x');
    const std::string shown = std::string(1000, 'x') + "\u2026";
    const std::vector<std::string> catalogues = {huge + "\r\na.wav\r\nA\r\n",
                                                 "message\r\na.wav\r\n" + huge + "\r\nb.wav\r\nB\r\n"};
    // The window's first show costs the same for any catalogue; it is not what is measured.
    loopgap::LongestGap([] { Form5->show(); }, 200);
    Serve({{"a.wav", "A", SongBytes(1, 100)}});
    for (size_t round = 0; round < catalogues.size(); ++round) {
        WriteFile(site + "/header.txt", catalogues[round]);
        boxes->answers.push_back(BoxAnswer::Yes);
        form->Button2Click();
        ASSERT_EQ(ReadFile(Path("header.txt")).size(), catalogues[round].size());
        // From reading the catalogue to the painted list window.
        const double gap = loopgap::LongestGap([&] { form->Timer5Timer(); });
        EXPECT_LT(gap, 1.0) << "round " << round;
        ASSERT_TRUE(Form5->isVisible());
        const QStringList memo = Form5->Memo1->toPlainText().split(QLatin1Char('\n'));
        if (round == 0) {
            EXPECT_EQ(memo.back().toStdString(), shown);
            ASSERT_EQ(Form5->CheckListBox1->Count(), 1);
            EXPECT_EQ(Form5->CheckListBox1->Text(0), QStringLiteral("A"));
        } else {
            EXPECT_EQ(memo.back(), QStringLiteral("message"));
            ASSERT_EQ(Form5->CheckListBox1->Count(), 2);
            EXPECT_EQ(Form5->CheckListBox1->Text(0).toStdString(), shown);
            EXPECT_EQ(Form5->CheckListBox1->Text(1), QStringLiteral("B"));
            EXPECT_EQ(form->CatalogueFiles[1], "b.wav");
        }
        EXPECT_EQ(form->CatalogueFiles[0], "a.wav");
    }
}
