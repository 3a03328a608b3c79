#include "platform/Fonts.h"

#include <QStringList>

namespace platform {

void InstallFontSubstitutes() {
    QFont::insertSubstitutions(kFontPMincho, QStringList() << QStringLiteral("IPAPMincho") << QStringLiteral("IPAMincho"));
    QFont::insertSubstitutions(kFontMincho, QStringList() << QStringLiteral("IPAMincho") << QStringLiteral("IPAPMincho"));
    QFont::insertSubstitutions(kFontPGothic, QStringList() << QStringLiteral("IPAPGothic") << QStringLiteral("IPAGothic"));
}

QFont DesignFont(const QString& family, int pixelSize, bool bold) {
    QFont f(family);
    f.setPixelSize(pixelSize);
    f.setBold(bold);
    return f;
}

}  // namespace platform
