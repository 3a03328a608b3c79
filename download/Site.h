#pragma once
// The music site ミルフォーネ: where its FTP server is and the account the program logs in
// with. TESSALY_SITE ("host:port") points the program at another server, such as the
// demo site that scripts/run.sh starts on loopback.
#include <string>

namespace download {

inline constexpr const char* kSiteHost = "ftp.milfone.example";
inline constexpr int kSitePort = 21;
inline constexpr const char* kSiteUser = "milfon";
inline constexpr const char* kSitePassword = "kdr1040song";
inline constexpr const char* kSiteUrl = "http://www.milfone.example/";

struct SiteAddress {
    std::string host;
    int port;
};

// The site's address, or the one TESSALY_SITE names. A malformed value is ignored.
SiteAddress CurrentSite();
// "host:port" → address; false when the text is not of that form (the port 1..65535).
bool ParseSite(const std::string& text, SiteAddress& out);

}  // namespace download
