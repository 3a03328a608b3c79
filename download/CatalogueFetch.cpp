// The connect button and the catalogue timer of the main window: the catalogue fetch.
#include <exception>

#include "app/Forms.h"
#include "app/TForm1.h"
#include "download/Catalogue.h"
#include "download/ClientCalls.h"
#include "download/TForm5.h"
#include "download/Utf8.h"
#include "net/FtpClient.h"
#include "platform/Services.h"

using download::Utf8;

void TForm1::Button2Click() {
    // The fetch would share the client and the phase with the running song: refused until
    // the run has ended or been cancelled and its transfer has unwound.
    if (Timer6->Enabled() || Download.Busy()) {
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
    Download.StartCatalogue();
    auto busy = Download.ClientCall();
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
    const download::Action next = Download.CatalogueTick();
    if (next == download::Action::None) return;
    Timer5->SetEnabled(false);
    download::DisconnectQuietly(*this);
    if (next == download::Action::CatalogueFailed) {
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
