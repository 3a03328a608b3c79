#include "platform/DragDrop.h"

#include <QByteArray>
#include <QMimeData>
#include <QUrl>

namespace platform {

bool CarriesLocalFiles(const QMimeData* data) {
    if (!data || !data->hasUrls()) return false;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile()) return true;
    return false;
}

std::string LocalPathBytes(const QUrl& url) {
    // File names are bytes; a file manager percent-encodes them as they are. Decoding the
    // URL as text would turn bytes that are not UTF-8 into replacement characters and name
    // a file that does not exist, so the bytes are taken from the encoded form.
    QByteArray path = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
    const QString host = url.host(QUrl::FullyEncoded);
    if (!host.isEmpty() && host != QLatin1String("localhost")) path.prepend("//" + host.toLatin1());
    return path.toStdString();
}

std::vector<std::string> DroppedPaths(const QMimeData* data) {
    std::vector<std::string> paths;
    if (!data) return paths;
    for (const QUrl& url : data->urls()) {
        if (!url.isLocalFile()) continue;
        std::string local = LocalPathBytes(url);
        // A folder URL may end in a separator; the entry names the folder itself.
        while (local.size() > 1 && local.back() == '/') local.pop_back();
        paths.push_back(std::move(local));
    }
    return paths;
}

}  // namespace platform
