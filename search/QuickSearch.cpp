// The quick search and the extension box.
#include <QComboBox>
#include <QGroupBox>
#include <algorithm>

#include "app/Forms.h"
#include "app/TForm1.h"
#include "app/TForm4.h"
#include "platform/Files.h"
#include "app/NameDisplay.h"
#include "platform/Services.h"
#include "search/ResultStore.h"
#include "search/Searches.h"

namespace search {

bool EntryMatches(const std::string& entry, const std::string& lowerKeyword) {
    if (store::ContainsIgnoringAsciiCase(entry, lowerKeyword)) return true;
    // Printable ASCII shows as it is: nothing more to look at.
    const bool plain = std::all_of(entry.begin(), entry.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
    return !plain && store::ContainsIgnoringAsciiCase(platform::DisplayPath(entry), lowerKeyword);
}

}  // namespace search

namespace {

const char kBlank[] = "　　　　　";  // five full-width spaces

// Narrows the list on screen to the entries that contain `keyword`; false, with every entry
// blanked in place, when none does.
bool FilterOnScreen(TForm1& form, const std::string& keyword) {
    TCheckListBox* list = form.CheckListBox1;
    const std::string lower = store::LowerAscii(keyword);
    std::vector<std::string> matches;
    const int count = list->Count();
    for (int i = 0; i < count; ++i) {
        std::string entry = list->Text(i);
        if (search::EntryMatches(entry, lower)) matches.push_back(std::move(entry));
    }
    if (!matches.empty()) {
        // Entries that do not match would be blanked and then cleared with the rest before
        // anything is painted; only the matches stay.
        list->Clear();
        for (const std::string& m : matches) list->Add(m);
        form.ShowListCount();
        return true;
    }
    // Every entry becomes blank in its place, check marks and the selection kept. One
    // rebuild of the list instead of a change signal per entry.
    std::vector<int> checked;
    for (int i = 0; i < count; ++i)
        if (list->Checked(i)) checked.push_back(i);
    const int selected = list->ItemIndex();
    list->Clear();
    for (int i = 0; i < count; ++i) list->Add(kBlank);
    for (int i : checked) list->SetChecked(i, true);
    if (selected >= 0) list->SetItemIndex(selected);
    return false;
}

void ExtensionChanged(TForm1& form, bool edited) {
    if (form.CheckListBox1->Count() == 0) return;
    platform::MediaDevice& media = *platform::Current().media;
    const QString remaining = form.Label9->text();
    if (media.IsOpen() && remaining != QStringLiteral("残り0.0%") && !remaining.contains(QStringLiteral("残り-"))) {
        media.Stop();
        form.MediaPlayer1->hide();
        form.Label9->hide();
        if (edited) form.GroupBox1->hide();
    }
    form.SwitchToManualPlay();
}

}  // namespace

void TForm1::SpeedButton2Click() {
    MediaPlayer1->hide();
    Label9->SetCaption(QString());
    const std::string text = search::BoxText(*this);
    if (text.size() >= 2 && text[0] == '*' && text[1] == '.') {
        std::string path = StoredListPath(text);
        if (!platform::FileExists(path)) {
            SpeedButton1Click();
            return;
        }
        CheckListBox1->Clear();
        ReadStoredList(path, nullptr);
        Form4->HideWindow();
        return;
    }
    std::string keyword;
    for (char c : text)
        if (c != '*') keyword += c;
    ComboBox2->setEditText(QString::fromLocal8Bit(keyword.data(), static_cast<qsizetype>(keyword.size())));
    std::string path = StoredListPath(keyword);
    if (platform::FileExists(path)) {
        CheckListBox1->Clear();
        ReadStoredList(path, &keyword);
        if (CheckListBox1->Count() == 0 &&
            platform::Current().boxes->Show(platform::BoxKind::Confirmation,
                                            QStringLiteral("該当するファイルはありませんでした\r\n再検索をしてみますか（Y/N)?\r\n")) ==
                platform::BoxAnswer::Yes)
            SpeedButton1Click();
        return;
    }
    if (!FilterOnScreen(*this, keyword)) SpeedButton1Click();
}

void TForm1::ComboBox2Select() { ExtensionChanged(*this, false); }

void TForm1::ComboBox2Change() { ExtensionChanged(*this, true); }
