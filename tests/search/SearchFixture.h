#pragma once
// Main window on fake services with real temporary folders as the drives.
#include <sys/stat.h>
#include <unistd.h>

#include <QComboBox>

#include "Fixtures.h"
#include "app/TForm4.h"

class SearchFixture : public MainWindowFixture {
protected:
    // A new folder under the test's folder, searched as a fixed disk after the ones before.
    std::string AddDrive(const std::string& name) {
        std::string root = Path(name) + "/";
        Dir(root);
        fakes->drives->roots.push_back(root);
        return root;
    }
    static void Dir(const std::string& path) { ::mkdir(path.c_str(), 0755); }
    static void File(const std::string& path) { WriteFile(path, "x"); }
    // Creates every folder of `path` below `root` and returns the full folder path.
    static std::string Dirs(const std::string& root, const std::string& path) {
        std::string at = root;
        size_t start = 0;
        while (start < path.size()) {
            size_t end = path.find('/', start);
            if (end == std::string::npos) end = path.size();
            at += path.substr(start, end - start) + "/";
            Dir(at);
            start = end + 1;
        }
        return at;
    }
    void SetBox(const char* text) { form->ComboBox2->setEditText(QString::fromUtf8(text)); }
    std::vector<QString> Confirmations() const { return boxes->TextsOf(platform::BoxKind::Confirmation); }
    std::vector<QString> Informations() const { return boxes->TextsOf(platform::BoxKind::Information); }

    static inline const QString kFirstQuestion = QStringLiteral(
        "ファイルを検索するには、\r\n  ①検索数を限定して検索する方法、\r\n  ②すべての固定ディスクから検索する方法、\r\n  "
        "③コンピュータが空き状態になったら自動的に検索する方法\r\n    があります。\r\n    このまま、処理を続けますか（Y/N)？");
    static inline const QString kCompleted = QStringLiteral(
        "処理を終了しました。\r\n検索リストのファイルをクリックすることで\r\nファイルの編集、実行、表示、演奏などができます。\r\n");
    static inline const QString kNothing =
        QStringLiteral("処理を終了しました。残念ですが、\r\n該当するファイルはありませんでした。\r\n");
    static inline const QString kInterrupted = QStringLiteral("処理を中断しました");
};
