// The catalogue fetch and the download queue against a site that misbehaves on purpose,
// driven through the windows' handlers with a scripted server on loopback.
#include <sys/resource.h>
#include <sys/stat.h>

#include <QTimer>

#include <algorithm>
#include <csignal>
#include <memory>

#include "FileSizeLimit.h"
#include "Fixtures.h"
#include "download/Catalogue.h"
#include "download/Site.h"
#include "download/TForm5.h"
#include "net/FtpClient.h"
#include "support/ScriptServer.h"
#include "platform/Guard.h"

using platform::BoxAnswer;
using platform::BoxKind;
using testnet::ScriptServer;

namespace {

void SiteLogin(ScriptServer& s) {
    s.Send("220 ready\r\n");
    s.Expect(std::string("USER ") + download::kSiteUser, "331 pass\r\n");
    s.Expect(std::string("PASS ") + download::kSitePassword, "230 ok\r\n");
}

// One active-mode transfer after the type has been set: PORT, RETR, the data, 226.
void SendFile(ScriptServer& s, const std::string& name, const std::string& bytes, const std::string& announced) {
    const std::string port = s.ReadLine();
    s.Send("200 ok\r\n");
    s.Expect("RETR " + name, "150 Opening (" + announced + " bytes).\r\n");
    s.ConnectData(ScriptServer::PortOf(port));
    s.SendData(bytes);
    s.CloseData();
    s.Send("226 done\r\n");
}

long long SizeOf(const std::string& path) {
    struct stat st{};
    return ::stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

}  // namespace

class HostileSite : public MainWindowFixture {
protected:
    void TearDown() override {
        unsetenv("TESSALY_SITE");
        MainWindowFixture::TearDown();
    }
    void PointAt(const ScriptServer& server) {
        setenv("TESSALY_SITE", ("127.0.0.1:" + std::to_string(server.Port())).c_str(), 1);
    }
    // A catalogue as a fetch would have left it, all songs checked.
    void Songs(const std::vector<std::string>& names) {
        Form5->CheckListBox1->Clear();
        for (size_t i = 0; i < names.size(); ++i) {
            form->CatalogueFiles[i] = names[i];
            Form5->CheckListBox1->Add(QString::fromStdString(names[i]));
            Form5->CheckListBox1->SetChecked(static_cast<int>(i), true);
        }
    }
    void StartRun() {
        boxes->answers.push_back(BoxAnswer::Yes);
        Form5->Button1Click();
    }
    // Ticks of Timer6 as the timer runs them: a failing tick shows its error box.
    void RunTicks() {
        for (int i = 0; i < 100 && form->Timer6->Enabled(); ++i)
            platform::Guarded([&] { form->Timer6Timer(); });
    }
};

TEST_F(HostileSite, RefusedTransferTypeFailsTheSongOrTheFetchNotTheRun) {
    int connection = 0;
    ScriptServer server(
        [&connection](ScriptServer& s) {
            SiteLogin(s);
            if (++connection == 1) {
                // The first song's connection: the server gives up on TYPE.
                s.Expect("TYPE I", "421 going away\r\n");
                return;
            }
            s.Expect("TYPE I", "200 binary\r\n");
            SendFile(s, "b.wav", "BBBB", "4");
            s.Expect("QUIT", "221 bye\r\n");
        },
        2);
    PointAt(server);
    Songs({"a.wav", "b.wav"});
    StartRun();
    RunTicks();
    EXPECT_EQ(server.Error(), "");
    EXPECT_FALSE(form->Timer6->Enabled()) << "the run stalled after the refused type";
    EXPECT_TRUE(boxes->TextsOf(BoxKind::Error).empty());
    EXPECT_EQ(Entries(), std::vector<std::string>{Path("b.wav")});
    EXPECT_TRUE(Form5->CheckListBox1->Checked(0));
    EXPECT_FALSE(Form5->CheckListBox1->Checked(1));
    EXPECT_EQ(Form5->Button1->text(), QStringLiteral("DOWNLOAD"));
    EXPECT_FALSE(form->FtpClient1->Connected());
}

TEST_F(HostileSite, RefusedTextTypeLeavesTheConnectButtonUsable) {
    ScriptServer server([](ScriptServer& s) {
        SiteLogin(s);
        s.Expect("TYPE A", "504 no text here\r\n");
        s.Expect("QUIT", "221 bye\r\n");
    });
    PointAt(server);
    boxes->answers.push_back(BoxAnswer::Yes);
    platform::Guarded([&] { form->Button2Click(); });
    ASSERT_TRUE(testnet::PumpUntil([&] { return server.Finished(); }));
    EXPECT_EQ(server.Error(), "");
    auto errors = boxes->TextsOf(BoxKind::Error);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_TRUE(errors[0].startsWith(QStringLiteral("504 no text here")));
    EXPECT_FALSE(form->FtpClient1->Connected());
    EXPECT_TRUE(form->Button2->isEnabled());
    EXPECT_FALSE(form->Timer5->Enabled());
}

TEST_F(HostileSite, FullDiskFailsTheSongOrTheFetchAndTheRunGoesOn) {
    const std::string big(200000, 'A');
    const std::string catalogue = "message\r\n" + std::string(100000, 'x') + "\r\n";
    ScriptServer server(
        [&](ScriptServer& s) {
            SiteLogin(s);
            s.Expect("TYPE A", "200 text\r\n");
            try {
                SendFile(s, "header.txt", catalogue, std::to_string(catalogue.size()));
            } catch (const std::exception&) {
                s.Send("426 aborted\r\n");  // the client dropped the data connection
            }
            s.Expect("ABOR", "226 ABOR ok\r\n");  // told to stop once its disk was full
            s.Expect("QUIT", "221 bye\r\n");
        },
        1);
    PointAt(server);
    int successes = 0;
    auto success = form->FtpClient1->OnSuccess;
    form->FtpClient1->OnSuccess = [&, success](TCmdType t) {
        if (t == TCmdType::TransRetr) ++successes;
        success(t);
    };
    {
        FileSizeLimit limit(50000);
        boxes->answers.push_back(BoxAnswer::Yes);
        platform::Guarded([&] { form->Button2Click(); });
        for (int i = 0; i < 10 && form->Timer5->Enabled(); ++i) platform::Guarded([&] { form->Timer5Timer(); });
    }
    ASSERT_TRUE(testnet::PumpUntil([&] { return server.Finished(); }));
    EXPECT_EQ(server.Error(), "");
    EXPECT_EQ(successes, 0);
    EXPECT_FALSE(Form5->isVisible());
    EXPECT_TRUE(form->Button2->isEnabled());
    EXPECT_FALSE(form->FtpClient1->Connected());
    // The fetch says why it ended, and leaves no part of a catalogue behind.
    const auto errors = boxes->TextsOf(BoxKind::Error);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_TRUE(errors[0].startsWith(QStringLiteral("アボートしました\r\n"))) << errors[0].toStdString();
    EXPECT_GT(errors[0].size(), QStringLiteral("アボートしました\r\n").size());
    EXPECT_FALSE(platform::PathExists(Path("header.txt")));
    boxes->shown.clear();

    ScriptServer songs(
        [&](ScriptServer& s) {
            SiteLogin(s);
            s.Expect("TYPE I", "200 binary\r\n");
            const std::string name = s.Commands().size() < 5 ? "big.wav" : "small.wav";
            try {
                SendFile(s, name, name == "big.wav" ? big : "tiny", name == "big.wav" ? "200000" : "4");
            } catch (const std::exception&) {
                s.Send("426 aborted\r\n");
            }
            if (name == "big.wav") s.Expect("ABOR", "226 ABOR ok\r\n");
            s.Expect("QUIT", "221 bye\r\n");
        },
        2);
    PointAt(songs);
    Songs({"big.wav", "small.wav"});
    {
        FileSizeLimit limit(50000);
        StartRun();
        RunTicks();
    }
    ASSERT_TRUE(testnet::PumpUntil([&] { return songs.Finished(); }));
    EXPECT_EQ(songs.Error(), "");
    EXPECT_FALSE(form->Timer6->Enabled());
    EXPECT_EQ(successes, 1);
    EXPECT_EQ(Entries(), std::vector<std::string>{Path("small.wav")});
    EXPECT_FALSE(platform::PathExists(Path("big.wav")));
    EXPECT_EQ(SizeOf(Path("temp")), -1) << "the small song's temp became small.wav";
    EXPECT_TRUE(Form5->CheckListBox1->Checked(0));
    EXPECT_FALSE(Form5->CheckListBox1->Checked(1));
    std::vector<std::string> log;
    platform::ReadTextLines(Path("SearchView.dwn"), [&](const std::string& l) { log.push_back(l); });
    EXPECT_EQ(log, std::vector<std::string>{Path("small.wav")});
    EXPECT_TRUE(boxes->TextsOf(BoxKind::Error).empty());
}

TEST_F(HostileSite, CatalogueWithoutEndIsAbortedAtItsLimit) {
    bool clientLeft = false;
    ScriptServer server([&](ScriptServer& s) {
        SiteLogin(s);
        s.Expect("TYPE A", "200 text\r\n");
        const std::string port = s.ReadLine();
        s.Send("200 ok\r\n");
        s.Expect("RETR header.txt", "150 Opening.\r\n");
        s.ConnectData(ScriptServer::PortOf(port));
        const std::string lines(65536, '\r');
        try {
            for (int i = 0; i < 1024; ++i) s.SendData(lines);  // 64 MB at most
        } catch (const std::exception&) {
            clientLeft = true;
        }
        s.CloseData();
        s.Send("426 aborted\r\n");
        s.Expect("QUIT", "221 bye\r\n");
    });
    PointAt(server);
    boxes->answers.push_back(BoxAnswer::Yes);
    platform::Guarded([&] { form->Button2Click(); });
    for (int i = 0; i < 10 && form->Timer5->Enabled(); ++i) platform::Guarded([&] { form->Timer5Timer(); });
    ASSERT_TRUE(testnet::PumpUntil([&] { return server.Finished(); }, 20000));
    EXPECT_EQ(server.Error(), "");
    EXPECT_TRUE(clientLeft);
    EXPECT_LE(SizeOf(Path("header.txt")), download::kCatalogueLimit + 65536);
    EXPECT_EQ(form->StatusBar1->SimpleText(), QStringLiteral("カタログが大きすぎるため、入手を中止しました"));
    EXPECT_FALSE(Form5->isVisible());
    EXPECT_TRUE(form->Button2->isEnabled());
    EXPECT_FALSE(form->FtpClient1->Connected());
    EXPECT_TRUE(boxes->TextsOf(BoxKind::Error).empty());
}
