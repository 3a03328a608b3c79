// Files dropped onto the main window join the check list; checked files can be deleted.
#include <cerrno>

#include "app/TForm1.h"
#include "platform/Exceptions.h"
#include "platform/Files.h"
#include "app/NameDisplay.h"
#include "platform/Services.h"

namespace {

// The entry that holds `path`: `hint` if it still does, else the first checked entry with
// that text. Question boxes let timers run, so the list may have moved meanwhile.
int FindEntry(const TCheckListBox* list, int hint, const std::string& path) {
    if (hint < list->Count() && list->Text(hint) == path) return hint;
    for (int i = 0; i < list->Count(); ++i)
        if (list->Checked(i) && list->Text(i) == path) return i;
    return -1;
}

platform::BoxAnswer Ask(const QString& text) {
    return platform::Current().boxes->Show(platform::BoxKind::Confirmation, text);
}

}  // namespace

void TForm1::WMDropFiles(const std::vector<std::string>& paths) {
    // The whole path is kept, however long: a cut path would name another file or none.
    for (const std::string& path : paths) {
        CheckListBox1->Add(path);
        ShowListCount();
    }
}

void TForm1::CheckListBox1ClickCheck() { Button1->setVisible(CheckListBox1->AnyChecked()); }

void TForm1::Button1Click() {
    if (Ask(QStringLiteral("該当するファイルを削除しますか\r\n\r\n")) != platform::BoxAnswer::Yes ||
        Ask(QStringLiteral("下のリストのチェックのついているファイルはすべて消えますが、本当に削除していいですか？\r\n\r\n")) !=
            platform::BoxAnswer::Yes) {
        for (int i = 0; i < CheckListBox1->Count(); ++i) CheckListBox1->SetChecked(i, false);
        Button1->hide();
        return;
    }
    int i = 0;
    while (i < CheckListBox1->Count()) {
        if (!CheckListBox1->Checked(i)) {
            ++i;
            continue;
        }
        const std::string path = CheckListBox1->Text(i);
        // Named as the list shows it: a Shift-JIS or broken name reads the same in both.
        const QString name = QString::fromStdString(platform::DisplayPath(path));
        bool yes = Ask(QStringLiteral("該当する") + name + QStringLiteral("を削除しますか\r\n\r\n")) ==
                   platform::BoxAnswer::Yes;
        int at = FindEntry(CheckListBox1, i, path);
        if (!yes) {
            if (at >= 0) CheckListBox1->SetChecked(at, false);
            i = at >= 0 ? at + 1 : 0;
            continue;
        }
        int err = 0;
        if (!platform::DeleteFile(path, &err) && platform::PathExists(path)) {
            // The file is still there: keep its entry, say why, and go on with the next.
            if (at >= 0) CheckListBox1->SetChecked(at, false);
            platform::Current().boxes->Show(
                platform::BoxKind::Error,
                QStringLiteral("ファイルを削除できませんでした\r\n\r\n") + name + QStringLiteral("\r\n") +
                    QString::fromUtf8(platform::IoErrorText(platform::IoCodeFromErrno(err))) +
                    QStringLiteral(" (") + QString::fromLocal8Bit(platform::SystemErrorText(err)) +
                    QStringLiteral(")"));
            i = at >= 0 ? at + 1 : 0;
            continue;
        }
        if (at >= 0) {
            CheckListBox1->Delete(at);
            ShowListCount();
        }
        i = 0;
    }
    Button1->hide();
}
