// The connect button and the catalogue timer of the main window: the catalogue fetch.
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
#include "platform/Services.h"

using download::Utf8;

void TForm1::Button2Click() {
    // The fetch would share the client and the phase with the song on its way: the list
    // window, with its CANCEL, comes back instead.
    if (download::SongOnItsWay(*this)) {
        download::ShowListWindow(*this);
        return;
    }
    if (platform::Current().boxes->Show(platform::BoxKind::Confirmation, Utf8("インターネットへ接続していますか？")) !=
        platform::BoxAnswer::Yes)
        return;
    download::HoldMainWindow(*this);
    download::WriteClientSettings(*this);
    Download.StartCatalogue();
    std::exception_ptr refused;
    {
        auto busy = Download.ClientCall();
        if (!FtpClient1->Connected()) {
            try {
                FtpClient1->Connect();
            } catch (const std::exception& e) {
                download::LogLine(e.what());
            }
        }
        // Without a connection this fails and ends the click with the error box.
        try {
            FtpClient1->SetTransferType(1);
        } catch (...) {
            refused = std::current_exception();
        }
    }
    if (refused) {
        // A connection that the server keeps open but will not serve is closed, and the main
        // window is the user's again, to try once more or to do something else.
        download::DisconnectQuietly(*this);
        download::GiveMainWindowBack(*this);
        std::rethrow_exception(refused);
    }
    StatusBar1->SetSimpleText(QStringLiteral("HEADER DOWNLOAD START."));
    Timer5->SetEnabled(true);
    CatalogueOverflow = false;
    // Fetched beside the older catalogue and put in its place only when whole: a full disk or
    // a cut transfer leaves the last good one, never an empty or half one.
    const std::string catalogue = WorkPath("header.txt");
    platform::RemoveStaleReplaceTemps(catalogue);
    const std::string part = platform::ReplaceTempPath(catalogue);
    QString localFailure;
    {
        auto busy = Download.ClientCall();
        CatalogueTransfer = true;
        try {
            FtpClient1->Download("header.txt", part);
        } catch (const EInOutError& e) {
            download::LogLine(e.what());
            localFailure = QString::fromUtf8(e.what());
        } catch (const std::exception& e) {
            download::LogLine(e.what());
        }
        CatalogueTransfer = false;
        if (DownloadState == download::Phase::Arrived && Download.Confirmed()) {
            try {
                platform::ReplaceFile(part, catalogue);
            } catch (const EInOutError& e) {
                localFailure = QString::fromUtf8(e.what());
                Download.TransferFailed();
            }
        } else if (DownloadState == download::Phase::Arrived) {
            // Over without the server's word that all of it came: not a catalogue to show.
            Download.TransferFailed();
        }
        platform::DeletePlainFile(part);
    }
    if (CatalogueOverflow)
        StatusBar1->SetSimpleText(Utf8("カタログが大きすぎるため、入手を中止しました"));
    if (!localFailure.isEmpty())
        platform::Current().boxes->Show(platform::BoxKind::Error, Utf8("アボートしました\r\n") + localFailure);
}

void TForm1::Timer5Timer() {
    const download::Action next = Download.CatalogueTick();
    if (next == download::Action::None) return;
    Timer5->SetEnabled(false);
    download::DisconnectQuietly(*this);
    if (next == download::Action::CatalogueFailed) {
        download::GiveMainWindowBack(*this);
        return;
    }
    if (!Form5) return;
    Form5->show();
    Form5->raise();
    Form5->activateWindow();
    download::Catalogue c = download::ReadCatalogue(WorkPath("header.txt"), static_cast<int>(CatalogueFiles.size()));
    Form5->CheckListBox1->Clear();
    Form5->AddMemoLine(QString::fromStdString(c.message));
    for (size_t i = 0; i < c.songs.size(); ++i) {
        CatalogueFiles[i] = c.songs[i].file;
        Form5->CheckListBox1->Add(QString::fromStdString(c.songs[i].display));
    }
    StatusBar1->SetSimpleText(QString());
    if (c.dropped > 0) {
        platform::Current().boxes->Show(
            platform::BoxKind::Information,
            Utf8("カタログには %1 曲ありますが、一度に扱えるのは %2 曲までです。\n先頭の %2 曲を表示します。")
                .arg(c.songs.size() + static_cast<size_t>(c.dropped))
                .arg(c.songs.size()));
    }
}
