#pragma once
// The Japanese fonts the windows are laid out with, and their stand-ins on this system.
#include <QFont>
#include <QString>

namespace platform {

inline const QString kFontPMincho = QStringLiteral("ＭＳ Ｐ明朝");
inline const QString kFontMincho = QStringLiteral("ＭＳ 明朝");
inline const QString kFontPGothic = QStringLiteral("ＭＳ Ｐゴシック");

// Maps the Windows font names the windows ask for to the IPA fonts of the same kind (Mincho
// or Gothic, proportional or fixed), so that no window falls back to a font without Japanese
// glyphs; call once after the application exists.
void InstallFontSubstitutes();

// A font of the window layouts: family by its Windows name, size in pixels (not points), so
// a text takes the same room whatever the screen's resolution.
QFont DesignFont(const QString& family, int pixelSize, bool bold = false);

}  // namespace platform
