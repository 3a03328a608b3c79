// The connect button, the catalogue timer and the client's connection, error, failure,
// success, status and transfer events of the main window.
#include <QMessageBox>
#include <cstdio>
#include <exception>

#include "app/Forms.h"
#include "app/TForm1.h"
#include "download/Catalogue.h"
#include "download/ClientEvents.h"
#include "download/Site.h"
#include "download/TForm5.h"
#include "net/FtpClient.h"
#include "platform/Files.h"
#include "platform/Guard.h"
#include "platform/Services.h"

namespace download {

void WriteClientSettings(TForm1& form) {
    SiteAddress site = CurrentSite();
    form.FtpClient1->Host = site.host;
    form.FtpClient1->Port = site.port;
    form.FtpClient1->TimeOut = 0;
    form.FtpClient1->UserID = kSiteUser;
    form.FtpClient1->Password = kSitePassword;
}

void LogLine(const std::string& text) {
    // Standard output may be a pipe that nobody reads any more: the line is then lost, and
    // the program goes on.
    platform::BrokenPipeGuard noSignal;
    std::fputs((text + "\n").c_str(), stdout);
    std::fflush(stdout);
    std::clearerr(stdout);
}

void DisconnectQuietly(TForm1& form) {
    try {
        form.FtpClient1->Disconnect();
    } catch (const std::exception& e) {
        LogLine(e.what());
    }
}

}  // namespace download

namespace {
QString Utf8(const char* s) { return QString::fromUtf8(s); }
}  // namespace

void TForm1::CreateFtpClient() {
    FtpClient1 = new TFtpClient(this);
    FtpClient1->ReportLevel = 0;
    FtpClient1->Passive = false;
    FtpClient1->FirewallType = TFirewallType::FTUser;
    FtpClient1->ProxyPort = 0;
    // Events run inside the client's waits; an exception must not unwind through the client.
    FtpClient1->OnConnect = [this](TBlockingSocket* s) { platform::Guarded([&] { FtpClient1Connect(s); }); };
    FtpClient1->OnDisconnect = [this](TBlockingSocket* s) { platform::Guarded([&] { FtpClient1Disconnect(s); }); };
    FtpClient1->OnError = [this](TBlockingSocket* s, std::uint16_t n, const std::string& m) {
        platform::Guarded([&] { FtpClient1Error(s, n, m); });
    };
    FtpClient1->OnFailure = [this](bool& handled, TCmdType t) {
        platform::Guarded([&] { FtpClient1Failure(handled, t); });
    };
    FtpClient1->OnSuccess = [this](TCmdType t) { platform::Guarded([&] { FtpClient1Success(t); }); };
    FtpClient1->OnStatus = [this](TBlockingSocket* s, const std::string& text) {
        platform::Guarded([&] { FtpClient1Status(s, text); });
    };
    FtpClient1->OnPacketRecvd = [this](TBlockingSocket* s) { platform::Guarded([&] { FtpClient1PacketRecvd(s); }); };
    FtpClient1->OnTransactionStart = [this](TBlockingSocket* s) {
        platform::Guarded([&] { FtpClient1TransactionStart(s); });
    };
    FtpClient1->OnTransactionStop = [this](TBlockingSocket* s) {
        platform::Guarded([&] { FtpClient1TransactionStop(s); });
    };
    connect(Button2, &QAbstractButton::clicked, this, [this] { platform::Guarded([this] { Button2Click(); }); });
}

void TForm1::Button2Click() {
    // The fetch would share the client and the phase with the running song: refused until
    // the run has ended or been cancelled and its transfer has unwound.
    if (Timer6->Enabled() || ClientBusy > 0) {
        platform::Current().boxes->Show(platform::BoxKind::Information,
                                        Utf8("曲のダウンロード中は接続できません。\n"
                                             "ダウンロードが終わるか、中止してから接続してください。"));
        return;
    }
    if (platform::Current().boxes->Show(platform::BoxKind::Confirmation, Utf8("インターネットへ接続していますか？")) !=
        platform::BoxAnswer::Yes)
        return;
    for (QWidget* w : std::initializer_list<QWidget*>{Label1, SpeedButton1, SpeedButton2, SpeedButton5, Button1, Button2,
                                                      Button5, ComboBox2, CheckBox2, ComboBox3})
        w->setEnabled(false);
    download::WriteClientSettings(*this);
    DownloadName = "TITLE";
    download::ClientBusyScope busy(ClientBusy);
    if (!FtpClient1->Connected()) {
        try {
            FtpClient1->Connect();
        } catch (const std::exception& e) {
            download::LogLine(e.what());
        }
    }
    // Without a connection the next step fails and ends the click; the connect button stays
    // usable so that the user can try again.
    if (!FtpClient1->Connected()) Button2->setEnabled(true);
    try {
        FtpClient1->SetTransferType(1);
    } catch (...) {
        // The click ends with the error box; a connection that the server keeps open but
        // will not serve is closed, and the user may try again.
        download::DisconnectQuietly(*this);
        Button2->setEnabled(true);
        throw;
    }
    StatusBar1->SetSimpleText(QStringLiteral("HEADER DOWNLOAD START."));
    DownloadState = -1;
    Timer5->SetEnabled(true);
    CatalogueOverflow = false;
    CatalogueTransfer = true;
    try {
        FtpClient1->Download("header.txt", WorkPath("header.txt"));
    } catch (const std::exception& e) {
        download::LogLine(e.what());
    }
    CatalogueTransfer = false;
    if (CatalogueOverflow)
        StatusBar1->SetSimpleText(Utf8("カタログが大きすぎるため、入手を中止しました"));
}

void TForm1::Timer5Timer() {
    if (DownloadState != 0 && DownloadState != 1) return;
    // Still inside Download (the final reply is awaited): the next tick acts, once it has
    // returned, so the client is never disconnected from inside its own wait.
    if (ClientBusy > 0) return;
    Timer5->SetEnabled(false);
    download::DisconnectQuietly(*this);
    if (DownloadState == 0) {
        Button2->setEnabled(true);
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

void TForm1::FtpClient1Connect(TBlockingSocket*) { StatusBar1->SetSimpleText(Utf8("接続しました")); }

void TForm1::FtpClient1Disconnect(TBlockingSocket*) {}

void TForm1::FtpClient1Error(TBlockingSocket*, std::uint16_t Errno, const std::string& Errmsg) {
    platform::Current().boxes->Show(platform::BoxKind::Plain, Utf8("エラー ") + QString::number(Errno) +
                                                                  QStringLiteral(": ") + QString::fromStdString(Errmsg));
}

void TForm1::FtpClient1Failure(bool&, TCmdType Trans_Type) {
    if (Trans_Type != TCmdType::TransRetr) return;
    StatusBar1->SetSimpleText(Utf8("アボートしました"));
    if (!TransferOrphaned) DownloadState = 0;
}

void TForm1::FtpClient1Success(TCmdType Trans_Type) {
    if (Trans_Type != TCmdType::TransRetr) return;
    StatusBar1->SetSimpleText(Utf8("入手に成功しました"));
    SongConfirmed = true;
}

void TForm1::FtpClient1Status(TBlockingSocket*, const std::string& Status) {
    StatusBar1->SetSimpleText(QString::fromStdString(Status));
}

void TForm1::FtpClient1PacketRecvd(TBlockingSocket*) {
    if (CatalogueTransfer && !CatalogueOverflow && FtpClient1->BytesRecvd() > download::kCatalogueLimit) {
        // Ends like any aborted catalogue: the phase becomes 0 and the next tick disconnects.
        CatalogueOverflow = true;
        FtpClient1->Abort();
    }
    StatusBar1->SetSimpleText(QString::fromStdString(download::DecodeSjis(DownloadName)) + Utf8(" を受信中 ") +
                              QString::number(FtpClient1->BytesRecvd()) + QStringLiteral(" of ") +
                              QString::number(FtpClient1->BytesTotal()));
}

void TForm1::FtpClient1TransactionStart(TBlockingSocket*) {
    StatusBar1->SetSimpleText(Utf8("データ転送の開始"));
    SongAnnounced = FtpClient1->BytesTotal();
}

void TForm1::FtpClient1TransactionStop(TBlockingSocket*) {
    StatusBar1->SetSimpleText(Utf8("データ転送の終了"));
    if (!TransferOrphaned) DownloadState = 1;
}
