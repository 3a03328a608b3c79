// Screenshots of the texts that must fit their controls, for a look at both scales:
//   xvfb-run -a -s "-screen 0 1280x1024x24" ./build/window_screenshots OUT-FOLDER
//   QT_SCALE_FACTOR=2 xvfb-run -a -s "-screen 0 1280x1024x24" ./build/window_screenshots OUT-FOLDER
// The main window with an MP3 open and not yet started (the remaining share beside the
// player, the volume box), the DOWNLOAD confirmation, and the download list window after two
// catalogue fetches, with a disabled and an enabled run.
#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

#include "app/Forms.h"
#include "app/TForm1.h"
#include "bench/PlayerBench.h"
#include "download/TForm5.h"
#include "platform/Fonts.h"
#include "platform/Guard.h"
#include "platform/MessageBoxes.h"
#include "platform/Services.h"
#include "tests/support/MediaMaker.h"

using bench::Activate;
using bench::Wait;

int main(int argc, char** argv) {
    platform::GuardedApplication app(argc, argv);
    platform::InstallFontSubstitutes();
    platform::InstallSystemServices(QCoreApplication::applicationFilePath().toStdString());
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("out/window-screenshots");
    QDir().mkpath(out);
    QTemporaryDir tmp;
    const std::string dir = tmp.path().toStdString();
    auto save = [&](QWidget* w, const char* name) {
        const QString path = out + QLatin1Char('/') + QLatin1String(name);
        w->grab().save(path);
        std::printf("%s\n", path.toUtf8().constData());
    };

    ApplicationWindows windows;
    TForm1* form = Form1;
    form->show();
    Wait(300);

    const std::string mp3 = mediamaker::Make(dir, "mp3", 20, "song");
    Activate(form, mp3);
    Wait(300);
    form->Timer2Timer();
    Wait(100);
    save(form, "main-mp3-open.png");
    save(form->GroupBox1, "volume-box.png");
    platform::Current().media->Close();

    const QString first = QString::fromUtf8("演奏リストにチェックをつけた曲を順番にダウンロードしつつ、連続演奏を開始します。いいですか？");
    const QString second = QString::fromUtf8("現在既に入手済み曲は、新たにﾀﾞｳﾝﾛｰﾄﾞせず、それを演奏する設定になっています");
    {
        auto box = platform::MakeMessageBox(platform::BoxKind::Confirmation, first + QLatin1Char('\n') + second, Form5);
        box->show();
        Wait(300);
        save(box.get(), "download-confirmation.png");
    }

    for (int i = 0; i < 20; ++i)
        Form5->CheckListBox1->Add(QString::fromUtf8("   曲 %1                              作曲者                              2003/04/%2")
                                      .arg(i + 1, 2)
                                      .arg(i + 1, 2, 10, QLatin1Char('0')));
    Form5->CheckListBox1->SetChecked(1, true);
    Form5->CheckListBox1->SetChecked(4, true);
    Form5->AddMemoLine(QString::fromUtf8("今月は春の曲を五つ入れました。"));
    Form5->AddMemoLine(QString::fromUtf8("来月はピアノ曲を予定しています。お楽しみに。"));
    Form5->show();
    Wait(300);
    save(Form5, "download-list-two-fetches.png");
    std::printf("memo: %d whole lines of %d px, text area %d px high, scrolled to %d of %d\n", Form5->Memo1->VisibleLines(),
                Form5->Memo1->LineHeight(), Form5->Memo1->viewport()->height(), Form5->Memo1->verticalScrollBar()->value(),
                Form5->Memo1->verticalScrollBar()->maximum());
    Form5->Hold();
    Wait(100);
    save(Form5, "download-list-running.png");
    Form5->Release();
    return 0;
}
