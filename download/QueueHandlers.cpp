// The main window's side of the download queue: the start of one song and the ticks of
// Timer6, which do what the queue asks for. One song per connection.
#include <exception>

#include "app/Forms.h"
#include "app/TForm1.h"
#include "download/Catalogue.h"
#include "download/ClientCalls.h"
#include "download/MainWindowHold.h"
#include "download/TForm5.h"
#include "download/Utf8.h"
#include "net/FtpClient.h"
#include "platform/Exceptions.h"
#include "platform/Files.h"

using download::Action;
using download::Utf8;

namespace {

void ReleaseList() {
    if (Form5) Form5->Release();
}

}  // namespace

void TForm1::Button4Click() {
    download::WriteClientSettings(*this);
    if (Form5) Form5->Hold();
    Timer6->SetEnabled(true);
    if (!Download.BeginSong(CatalogueFiles)) return;
    // A catalogue name is untrusted: one that would leave the working folder or carry a
    // second command fails like a refused song, before anything is sent.
    if (auto why = download::SongNameProblem(DownloadName)) {
        StatusBar1->SetSimpleText(Utf8("入手できません: ") + QString::fromStdString(download::ShownSongName(DownloadName)) +
                                  Utf8(": ") + QString::fromStdString(*why));
        Download.Fail();
        return;
    }
    auto busy = Download.ClientCall();
    if (!FtpClient1->Connected()) {
        try {
            FtpClient1->Connect();
        } catch (const std::exception& e) {
            // Said in the status bar rather than in a box per song: the ticks go on while a
            // box is open, so a server that is down would pile up one box per song.
            StatusBar1->SetSimpleText(Utf8("接続できませんでした: ") + QString::fromStdString(e.what()));
            Download.Fail();
            return;
        }
    }
    try {
        FtpClient1->SetTransferType(2);
    } catch (const std::exception& e) {
        // Refused, or the server went away after the log-in: the song fails like a refused
        // one and the run goes on (a song left waiting would stall it for good).
        StatusBar1->SetSimpleText(Utf8("入手できません: ") + QString::fromStdString(e.what()).trimmed());
        Download.Fail();
        return;
    }
    StatusBar1->SetSimpleText(QStringLiteral("CONTENTS DOWNLOAD START."));
    try {
        FtpClient1->Download(DownloadName, WorkPath("temp"));
    } catch (const std::exception& e) {
        download::LogLine(e.what());
        Download.Fail();
    }
}

void TForm1::Timer6Timer() {
    const int count = Form5 ? Form5->CheckListBox1->Count() : 0;
    switch (Download.Tick(count, [](int i) { return Form5->CheckListBox1->Checked(i); })) {
        case Action::AbortRun:
            Timer6->SetEnabled(false);
            ReleaseList();
            FtpClient1->Abort();
            download::GiveMainWindowBack(*this);
            return;
        case Action::KeepSong: {
            ReleaseList();
            const std::string temp = WorkPath("temp");
            // The server must have confirmed the song, with as many bytes as it announced;
            // otherwise the song stays checked like any failed one.
            if (!Download.SongWhole(platform::FileSize(temp))) {
                StatusBar1->SetSimpleText(Utf8("転送が途中で終わりました"));
                download::DisconnectQuietly(*this);
                return;
            }
            const std::string local = download::LocalName(DownloadName);
            try {
                // On the disk before the log names the song: after a power cut a logged song
                // is whole.
                platform::ReplaceFile(temp, WorkPath(local));
                CheckListBox1->Add(WorkPath(local));
                if (Form5 && DownloadIndex >= 0 && DownloadIndex < Form5->CheckListBox1->Count())
                    Form5->CheckListBox1->SetChecked(DownloadIndex, false);
                ShowListCount();
                AppendDownloadLog(local);
            } catch (...) {
                download::DisconnectQuietly(*this);
                throw;
            }
            download::DisconnectQuietly(*this);
            return;
        }
        case Action::SkipSong:
            ReleaseList();
            download::DisconnectQuietly(*this);
            return;
        case Action::StartSong:
            Form5->CheckListBox1->SetItemIndex(DownloadIndex);
            Button4Click();
            // A run cancelled while this song was on its way ends only now, with its transfer.
            download::GiveMainWindowBack(*this);
            return;
        case Action::EndRun:
            Timer6->SetEnabled(false);
            ReleaseList();
            download::GiveMainWindowBack(*this);
            return;
        default:
            return;
    }
}
