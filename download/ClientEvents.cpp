// The main window's handlers of the FTP client's events: status texts, and what the client
// says about a transfer, handed to the download queue.
#include "download/ClientEvents.h"

#include "app/TForm1.h"
#include "download/Catalogue.h"
#include "download/Utf8.h"
#include "net/FtpClient.h"
#include "platform/Guard.h"
#include "platform/Services.h"

using download::Utf8;

namespace download {

void ConnectClientEvents(TForm1& form) {
    TForm1* f = &form;
    TFtpClient* client = form.FtpClient1;
    client->OnConnect = [f](TBlockingSocket* s) { platform::Guarded([&] { f->FtpClient1Connect(s); }); };
    client->OnDisconnect = [f](TBlockingSocket* s) { platform::Guarded([&] { f->FtpClient1Disconnect(s); }); };
    client->OnError = [f](TBlockingSocket* s, std::uint16_t n, const std::string& m) {
        platform::Guarded([&] { f->FtpClient1Error(s, n, m); });
    };
    client->OnFailure = [f](bool& handled, TCmdType t) {
        platform::Guarded([&] { f->FtpClient1Failure(handled, t); });
    };
    client->OnSuccess = [f](TCmdType t) { platform::Guarded([&] { f->FtpClient1Success(t); }); };
    client->OnStatus = [f](TBlockingSocket* s, const std::string& text) {
        platform::Guarded([&] { f->FtpClient1Status(s, text); });
    };
    client->OnPacketRecvd = [f](TBlockingSocket* s) { platform::Guarded([&] { f->FtpClient1PacketRecvd(s); }); };
    client->OnTransactionStart = [f](TBlockingSocket* s) {
        platform::Guarded([&] { f->FtpClient1TransactionStart(s); });
    };
    client->OnTransactionStop = [f](TBlockingSocket* s) {
        platform::Guarded([&] { f->FtpClient1TransactionStop(s); });
    };
}

}  // namespace download

void TForm1::FtpClient1Connect(TBlockingSocket*) { StatusBar1->SetSimpleText(Utf8("接続しました")); }

void TForm1::FtpClient1Disconnect(TBlockingSocket*) {}

void TForm1::FtpClient1Error(TBlockingSocket*, std::uint16_t Errno, const std::string& Errmsg) {
    platform::Current().boxes->Show(platform::BoxKind::Plain, Utf8("エラー ") + QString::number(Errno) +
                                                                  QStringLiteral(": ") + QString::fromStdString(Errmsg));
}

void TForm1::FtpClient1Failure(bool&, TCmdType Trans_Type) {
    if (Trans_Type != TCmdType::TransRetr) return;
    StatusBar1->SetSimpleText(Utf8("アボートしました"));
    Download.TransferFailed();
}

void TForm1::FtpClient1Success(TCmdType Trans_Type) {
    if (Trans_Type != TCmdType::TransRetr) return;
    StatusBar1->SetSimpleText(Utf8("入手に成功しました"));
    Download.TransferConfirmed();
}

void TForm1::FtpClient1Status(TBlockingSocket*, const std::string& Status) {
    StatusBar1->SetSimpleText(QString::fromStdString(Status));
}

void TForm1::FtpClient1PacketRecvd(TBlockingSocket*) {
    if (CatalogueTransfer && !CatalogueOverflow && FtpClient1->BytesRecvd() > download::kCatalogueLimit) {
        // Ends like any aborted catalogue: the phase becomes Aborted and the next tick disconnects.
        CatalogueOverflow = true;
        FtpClient1->Abort();
    }
    StatusBar1->SetSimpleText(QString::fromStdString(download::DecodeSjis(DownloadName)) + Utf8(" を受信中 ") +
                              QString::number(FtpClient1->BytesRecvd()) + QStringLiteral(" of ") +
                              QString::number(FtpClient1->BytesTotal()));
}

void TForm1::FtpClient1TransactionStart(TBlockingSocket*) {
    StatusBar1->SetSimpleText(Utf8("データ転送の開始"));
    Download.TransferStarted(FtpClient1->BytesTotal());
}

void TForm1::FtpClient1TransactionStop(TBlockingSocket*) {
    StatusBar1->SetSimpleText(Utf8("データ転送の終了"));
    Download.TransferStopped();
}
