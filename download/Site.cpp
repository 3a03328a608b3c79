#include "download/Site.h"

#include <cstdlib>

namespace download {

bool ParseSite(const std::string& text, SiteAddress& out) {
    auto colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size()) return false;
    std::string host = text.substr(0, colon);
    std::string port = text.substr(colon + 1);
    if (port.size() > 5) return false;
    int value = 0;
    for (char c : port) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    if (value < 1 || value > 65535) return false;
    for (char c : host)
        if (static_cast<unsigned char>(c) <= ' ') return false;
    out = {host, value};
    return true;
}

SiteAddress CurrentSite() {
    SiteAddress site{kSiteHost, kSitePort};
    if (const char* env = std::getenv("TESSALY_SITE"); env && *env) ParseSite(env, site);
    return site;
}

}  // namespace download
