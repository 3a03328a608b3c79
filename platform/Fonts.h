#pragma once
// The design's Japanese fonts and their stand-ins on this system.
#include <QFont>
#include <QString>

namespace platform {

inline const QString kFontPMincho = QStringLiteral("ＭＳ Ｐ明朝");
inline const QString kFontMincho = QStringLiteral("ＭＳ 明朝");
inline const QString kFontPGothic = QStringLiteral("ＭＳ Ｐゴシック");

// Maps the design's font names to the IPA fonts; call once after the application exists.
void InstallFontSubstitutes();

// A font of the design: family name as designed, size in pixels.
QFont DesignFont(const QString& family, int pixelSize, bool bold = false);

}  // namespace platform
