// The main window's FTP client: its creation, and the calls that the catalogue fetch and the
// download queue share.
#include "download/ClientCalls.h"

#include <cstdio>
#include <exception>

#include "app/TForm1.h"
#include "download/ClientEvents.h"
#include "download/Site.h"
#include "net/FtpClient.h"
#include "platform/Files.h"
#include "platform/Guard.h"

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
    // The wait for the answer to QUIT lets the timers tick: counted as a client call, so that
    // a tick does not start the next song on the connection that is being closed.
    auto busy = form.Download.ClientCall();
    try {
        form.FtpClient1->Disconnect();
    } catch (const std::exception& e) {
        LogLine(e.what());
    }
}

}  // namespace download

void TForm1::CreateFtpClient() {
    FtpClient1 = new TFtpClient(this);
    FtpClient1->ReportLevel = 0;
    FtpClient1->Passive = false;
    FtpClient1->FirewallType = TFirewallType::FTUser;
    FtpClient1->ProxyPort = 0;
    download::ConnectClientEvents(*this);
    connect(Button2, &QAbstractButton::clicked, this, [this] { platform::Guarded([this] { Button2Click(); }); });
}
