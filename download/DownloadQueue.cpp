// The download queue: one song per connection, driven by the phase in DownloadState and
// the ticks of Timer6.
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <exception>

#include "app/Forms.h"
#include "app/TForm1.h"
#include "download/Catalogue.h"
#include "download/ClientEvents.h"
#include "download/TForm5.h"
#include "net/FtpClient.h"
#include "platform/Exceptions.h"
#include "platform/Files.h"

namespace {

QString Utf8(const char* s) { return QString::fromUtf8(s); }

void ReleaseList() {
    if (Form5) Form5->Release();
}

// Size of a plain file, -1 when there is none.
std::int64_t FileSize(const std::string& path) {
    struct stat st{};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return st.st_size;
}

// Moves a file within one folder, replacing a file of the new name. Its data and the move
// reach the disk before the log names the song: after a power cut a logged song is whole.
void MoveFile(const std::string& from, const std::string& to) { platform::ReplaceFile(from, to); }

}  // namespace

void TForm1::Button4Click() {
    download::WriteClientSettings(*this);
    if (Form5) Form5->Hold();
    DownloadState = -1;
    Timer6->SetEnabled(true);
    SongConfirmed = false;
    SongAnnounced = 0;
    TransferOrphaned = false;
    if (DownloadIndex < 0 || DownloadIndex >= static_cast<int>(CatalogueFiles.size())) {
        DownloadState = 100;
        return;
    }
    DownloadName = CatalogueFiles[static_cast<size_t>(DownloadIndex)];
    // A catalogue name is untrusted: one that would leave the working folder or carry a
    // second command fails like a refused song, before anything is sent.
    if (auto why = download::SongNameProblem(DownloadName)) {
        StatusBar1->SetSimpleText(Utf8("入手できません: ") + QString::fromStdString(*why));
        DownloadState = 100;
        return;
    }
    download::ClientBusyScope busy(ClientBusy);
    if (!FtpClient1->Connected()) {
        try {
            FtpClient1->Connect();
        } catch (const std::exception& e) {
            // Said in the status bar rather than in a box per song: the ticks go on while a
            // box is open, so a server that is down would pile up one box per song.
            StatusBar1->SetSimpleText(Utf8("接続できませんでした: ") + QString::fromStdString(e.what()));
            if (!TransferOrphaned) DownloadState = 100;
            return;
        }
    }
    try {
        FtpClient1->SetTransferType(2);
    } catch (const std::exception& e) {
        // Refused, or the server went away after the log-in: the song fails like a refused
        // one and the run goes on (a phase left at -1 would stall it for good).
        StatusBar1->SetSimpleText(Utf8("入手できません: ") + QString::fromStdString(e.what()).trimmed());
        if (!TransferOrphaned) DownloadState = 100;
        return;
    }
    StatusBar1->SetSimpleText(QStringLiteral("CONTENTS DOWNLOAD START."));
    try {
        FtpClient1->Download(DownloadName, WorkPath("temp"));
    } catch (const std::exception& e) {
        download::LogLine(e.what());
        if (!TransferOrphaned) DownloadState = 100;
    }
}

void TForm1::Timer6Timer() {
    switch (DownloadState) {
        case 0:
            Timer6->SetEnabled(false);
            ReleaseList();
            DownloadState = -1;
            DownloadIndex = -1;
            // The song still in flight ends as aborted, but no longer moves the queue.
            if (ClientBusy > 0) TransferOrphaned = true;
            FtpClient1->Abort();
            return;
        case 1: {
            // Still inside Download (the final reply is awaited): completed at a later tick,
            // once the outcome is known and the client can be disconnected safely.
            if (ClientBusy > 0) return;
            DownloadState = 2;
            ReleaseList();
            const std::string temp = WorkPath("temp");
            // The server must have confirmed the song, with as many bytes as it announced;
            // otherwise the song stays checked like any failed one.
            std::int64_t size = FileSize(temp);
            if (!SongConfirmed || size < 0 || (SongAnnounced > 0 && size != SongAnnounced)) {
                StatusBar1->SetSimpleText(Utf8("転送が途中で終わりました"));
                download::DisconnectQuietly(*this);
                return;
            }
            const std::string local = download::LocalName(DownloadName);
            try {
                MoveFile(temp, WorkPath(local));
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
        case 2: {
            // An earlier transfer is still unwinding: one download at a time on the client.
            if (ClientBusy > 0) return;
            const int count = Form5 ? Form5->CheckListBox1->Count() : 0;
            do {
                ++DownloadIndex;
                DownloadState = -1;
            } while (DownloadIndex < count && !Form5->CheckListBox1->Checked(DownloadIndex));
            if (DownloadIndex >= count) {
                Timer6->SetEnabled(false);
                ReleaseList();
                return;
            }
            Form5->CheckListBox1->SetItemIndex(DownloadIndex);
            Button4Click();
            return;
        }
        case 100:
            if (ClientBusy > 0) return;
            DownloadState = 2;
            ReleaseList();
            download::DisconnectQuietly(*this);
            return;
        default:
            return;
    }
}
