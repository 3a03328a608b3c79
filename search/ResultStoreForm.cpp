// The main window's side of the result store: the check list in, the check list out.
#include "app/TForm1.h"
#include "platform/Files.h"
#include "search/ResultStore.h"
#include "search/Searches.h"

std::string TForm1::StoredListPath(const std::string& boxText) const {
    // Whatever the case or length of the extension typed.
    return store::StoredListPath(WorkDir, boxText);
}

void TForm1::ShowListCount() {
    Label8->SetCaption(QStringLiteral("リスト数") + QString::number(CheckListBox1->Count()));
}

void TForm1::DeleteStoredList(const std::string& pattern) {
    std::string path = StoredListPath(pattern);
    if (platform::FileExists(path)) platform::DeleteFile(path);
}

void TForm1::WriteStoredList(const std::string& pattern) {
    std::string path = StoredListPath(pattern);
    store::WriteList(path, CheckListBox1->Count(), [this](int i) { return CheckListBox1->Text(i); });
}

void TForm1::ReadStoredList(const std::string& path, const std::string* keyword) {
    // The log is appended to line by line: a last line without its line break is an append
    // that was cut off, not a path.
    const std::string lower = keyword ? store::LowerAscii(*keyword) : std::string();
    store::ReadList(
        path, nullptr,
        [this, keyword, &lower](const std::string& line) {
            if (keyword && !search::EntryMatches(line, lower)) return;
            CheckListBox1->Add(line);
            ShowListCount();
        },
        store::IsDownloadLog(path));
    // A list whose lines were all unreadable shows an empty list and says so.
    if (!keyword && CheckListBox1->Count() == 0) ShowListCount();
}

void TForm1::AppendDownloadLog(const std::string& fileName) {
    std::string log = store::ResolveInFolder(WorkDir, store::kDownloadLogName);
    store::AppendLine(log, WorkPath(fileName));
}
