// Closing the main window: abort a transfer, drop the download list window, offer the
// autostart registration, end the process.
#include <QCloseEvent>
#include <cstdio>
#include <cstdlib>

#include "app/Forms.h"
#include "app/TForm1.h"
#include "download/TForm5.h"
#include "net/FtpClient.h"
#include "platform/Files.h"
#include "platform/Guard.h"
#include "platform/Services.h"

void TForm1::closeEvent(QCloseEvent* event) {
    // The process ends inside the handler; the close request itself is never answered.
    event->ignore();
    FormCloseQuery();
}

void TForm1::FormCloseQuery() {
    // Every step is on its own: a failure is shown and the way out goes on, since the
    // download list window is already gone after the second step.
    platform::Guarded([this] {
        if (FtpClient1) FtpClient1->Abort();
    });
    platform::Guarded([] {
        delete Form5;
        Form5 = nullptr;
    });
    platform::Guarded([this] { Button6Click(); });
    std::fflush(nullptr);
    if (ExitProcess)
        ExitProcess(0);
    else
        std::exit(0);
}

void TForm1::Button6Click() {
    platform::RegistryStore& registry = *platform::Current().registry;
    if (registry.ReadString("Run", "_KDR_", "xx") != "xx") return;
    if (platform::Current().boxes->Show(platform::BoxKind::Confirmation, QString::fromUtf8("自動起動の設定をしますか？")) !=
        platform::BoxAnswer::Yes)
        return;
    registry.WriteString("Run", "_KDR_", platform::AutostartValue(platform::GetCurrentDir()));
}
