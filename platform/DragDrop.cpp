#include "platform/DragDrop.h"

#include <QFile>
#include <QMimeData>
#include <QUrl>

namespace platform {

bool CarriesLocalFiles(const QMimeData* data) {
    if (!data || !data->hasUrls()) return false;
    for (const QUrl& url : data->urls())
        if (url.isLocalFile()) return true;
    return false;
}

std::vector<std::string> DroppedPaths(const QMimeData* data) {
    std::vector<std::string> paths;
    if (!data) return paths;
    for (const QUrl& url : data->urls()) {
        if (!url.isLocalFile()) continue;
        QString local = url.toLocalFile();
        // A folder URL may end in a separator; the entry names the folder itself.
        while (local.size() > 1 && local.endsWith(QLatin1Char('/'))) local.chop(1);
        paths.push_back(QFile::encodeName(local).toStdString());
    }
    return paths;
}

}  // namespace platform
