#pragma once
// What the FTP client tests share: a client that records its events, the log-in and transfer
// steps of a scripted server, and a temporary folder per test.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "support/ScriptServer.h"
#include "net/FtpClient.h"
#include "net/SockLayer.h"

namespace testnet {

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// A socket connected to a loopback peer. A set `timeOut` makes a regression fail instead of hang.
inline std::unique_ptr<TBlockingSocket> ConnectTo(int port, std::int64_t timeOut = 0) {
    auto s = std::make_unique<TBlockingSocket>();
    s->Host = "127.0.0.1";
    s->Port = port;
    s->Connect();
    s->TimeOut = timeOut;
    return s;
}

inline std::string Payload(std::size_t n) {
    std::string p(n, '\0');
    for (std::size_t i = 0; i < n; ++i) p[i] = static_cast<char>((i * 131) ^ (i >> 9));
    return p;
}

// The last two numbers of a PASV reply: the port's high and low byte.
inline std::string PortPair(int port) { return std::to_string(port / 256) + "," + std::to_string(port % 256); }

inline void Login(ScriptServer& s) {
    s.Send("220 ready\r\n");
    s.Expect("USER u", "331 pass\r\n");
    s.Expect("PASS p", "230 ok\r\n");
}

// Server side of a passive RETR up to its preliminary reply; the data connection is open.
inline void PassiveRetr(ScriptServer& s, const std::string& name, const std::string& preliminary) {
    int port = s.OpenDataListener();
    s.Expect("PASV", "227 Entering Passive Mode (127,0,0,1," + PortPair(port) + ").\r\n");
    s.AcceptData();
    s.Expect("RETR " + name, preliminary);
}

// A client with a record of its level-1 traffic and of its events.
struct Client {
    TFtpClient ftp;
    std::vector<std::string> log;
    explicit Client(int port) {
        ftp.Host = "127.0.0.1";
        ftp.Port = port;
        ftp.UserID = "u";
        ftp.Password = "p";
        ftp.ReportLevel = 1;
        ftp.OnStatus = [this](TBlockingSocket*, const std::string& s) { log.push_back("status " + s); };
        ftp.OnConnect = [this](TBlockingSocket*) { log.push_back("connect"); };
        ftp.OnConnectionFailed = [this](TBlockingSocket*) { log.push_back("connection failed"); };
        ftp.OnDisconnect = [this](TBlockingSocket*) { log.push_back("disconnect"); };
        ftp.OnTransactionStart = [this](TBlockingSocket*) {
            log.push_back("start " + std::to_string(ftp.BytesTotal()));
        };
        ftp.OnTransactionStop = [this](TBlockingSocket*) { log.push_back("stop"); };
        ftp.OnSuccess = [this](TCmdType t) { log.push_back("success " + std::to_string(int(t))); };
    }
    bool Has(const std::string& entry) const { return std::find(log.begin(), log.end(), entry) != log.end(); }
    int Count(const std::string& entry) const { return static_cast<int>(std::count(log.begin(), log.end(), entry)); }
    // The events, without the status traffic.
    std::vector<std::string> Events() const {
        std::vector<std::string> out;
        for (const auto& e : log)
            if (e.rfind("status ", 0) != 0) out.push_back(e);
        return out;
    }
};

// Every test writes only inside its own temporary folder.
class NetTest : public testing::Test {
protected:
    std::string Temp(const std::string& name) const { return tmp_.Path(name); }
    std::string TempRoot() const { return tmp_.Root(); }

private:
    TempFolder tmp_;
};

}  // namespace testnet
