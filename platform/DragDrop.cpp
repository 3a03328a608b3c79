#include "platform/DragDrop.h"

#include <QByteArray>
#include <QMimeData>
#include <QSysInfo>
#include <QUrl>

namespace platform {

namespace {

// A file URL names a file of this machine only without a host, or with this machine's
// name: the same path of another host is some other file here.
bool NamesFileHere(const QUrl& url) {
    if (!url.isLocalFile()) return false;
    const QString host = url.host();
    return host.isEmpty() || host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0 ||
           host.compare(QSysInfo::machineHostName(), Qt::CaseInsensitive) == 0;
}

}  // namespace

bool CarriesLocalFiles(const QMimeData* data) {
    if (!data || !data->hasUrls()) return false;
    for (const QUrl& url : data->urls())
        if (NamesFileHere(url)) return true;
    return false;
}

std::string LocalPathBytes(const QUrl& url) {
    // File names are bytes; a file manager percent-encodes them as they are. Decoding the
    // URL as text would turn bytes that are not UTF-8 into replacement characters and name
    // a file that does not exist, so the bytes are taken from the encoded form.
    return QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()).toStdString();
}

std::vector<std::string> DroppedPaths(const QMimeData* data) {
    std::vector<std::string> paths;
    if (!data) return paths;
    for (const QUrl& url : data->urls()) {
        if (!NamesFileHere(url)) continue;
        std::string local = LocalPathBytes(url);
        // An encoded NUL would cut the name short for every file function, naming another
        // file: no file has such a name.
        if (local.empty() || local.find('\0') != std::string::npos) continue;
        // A folder URL may end in a separator; the entry names the folder itself.
        while (local.size() > 1 && local.back() == '/') local.pop_back();
        paths.push_back(std::move(local));
    }
    return paths;
}

}  // namespace platform
