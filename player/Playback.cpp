#include "player/Playback.h"

#include <algorithm>
#include <cmath>

namespace player {

std::string ExtensionKey(const std::string& path) {
    const size_t dot = path.rfind('.');
    const size_t sep = path.rfind('/');
    if (dot == std::string::npos || (sep != std::string::npos && dot < sep)) return std::string();
    std::string key = path.substr(dot);
    for (char& c : key)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return key;
}

QString FormatShare(double value) {
    if (!std::isfinite(value)) value = 0;
    // Tenths, rounded half away from zero.
    const long long tenths = std::llround(std::fabs(value) * 10.0);
    QString digits = QString::number(tenths / 10);
    for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3) digits.insert(i, QLatin1Char(','));
    QString text = digits + QLatin1Char('.') + QString::number(tenths % 10);
    return value < 0 && tenths != 0 ? QLatin1Char('-') + text : text;
}

QString RemainingText(std::int64_t position, std::int64_t length) {
    static const QString ended = QStringLiteral("残り0.0%");
    if (length <= 0) return position == 0 ? QStringLiteral("残り100.0%") : ended;
    const double r = 100.0 - static_cast<double>(position) * 100.0 / static_cast<double>(length);
    if (position != 0 && position >= length) return ended;
    return QStringLiteral("残り") + FormatShare(r) + QLatin1Char('%');
}

bool IsFinishedText(const QString& text) {
    return text == QStringLiteral("残り0.0%") || text.contains(QStringLiteral("残り-"));
}

bool IsAtStartText(const QString& text) { return text == QStringLiteral("残り100.0%"); }

std::uint32_t VolumeValue(int leftPosition, int rightPosition) {
    auto level = [](int position) { return static_cast<std::uint32_t>(127 - std::clamp(position, 0, 127)) * 256u; };
    return level(leftPosition) + level(rightPosition) * 65536u;
}

Launch LaunchFor(const std::string& ext, const std::string& path) {
    auto any = [&ext](std::initializer_list<const char*> list) {
        return std::any_of(list.begin(), list.end(), [&ext](const char* e) { return ext == e; });
    };
    const std::string pf = "\\Program Files\\";
    if (any({".MP3", ".WAV", ".MID", ".MPG", ".DAT", ".MOV", ".AVI"})) return {LaunchKind::Media, {}};
    if (ext == ".JPG") return {LaunchKind::Jpeg, {}};
    if (any({".BMP", ".ICO", ".WMF", ".EMF"})) return {LaunchKind::Picture, {}};
    if (ext == ".JAR") return {LaunchKind::Program, {"\\J2MEWSDK4DOJA\\bin\\_ktoolbar.exe \\jdk1.3 \\J2MEWSDK4DOJA"}};
    if (ext == ".EXE") return {LaunchKind::ConfirmedProgram, {path}};
    if (any({".JAVA", ".JAM", ".DXF", ".BAT", ".C", ".HTML", ".HTM", ".CPP", ".CCP", ".BAS", ".TXT", ".CSV"}))
        return {LaunchKind::Program, {"NOTEPAD.EXE " + path}};
    if (ext == ".XLS") {
        const std::string excel = pf + "Microsoft Office\\Office\\EXCEL.EXE " + path;
        return {LaunchKind::Program, {excel, excel}};
    }
    if (ext == ".DOC")
        return {LaunchKind::Program,
                {pf + "Microsoft Office\\Office\\WinWORD.EXE " + path, pf + "Accessories\\wordpad.EXE " + path}};
    if (ext == ".DWG")
        return {LaunchKind::Program, {pf + "ACAD LT 2000\\aclt.EXE " + path, pf + "ACAD\\acad.EXE " + path}};
    if (ext == ".GIF") {
        const std::string ie = pf + "Internet Explorer\\IEXPLORE.EXE " + path;
        return {LaunchKind::Program, {ie, ie}};
    }
    return {};
}

}  // namespace player
