// The full disk search: the re-search button, also run by the quick and automatic searches.
#include <QComboBox>
#include <chrono>

#include "app/Forms.h"
#include "app/TForm1.h"
#include "app/TForm4.h"
#include "app/NameDisplay.h"
#include "platform/Services.h"
#include "search/LevelWalk.h"
#include "search/Searches.h"

namespace search {

namespace {

// A folder's path as the check list shows it.
QString Shown(std::string_view s) { return QString::fromStdString(platform::DisplayPath(s)); }

bool Confirm(const QString& text) {
    return platform::Current().boxes->Show(platform::BoxKind::Confirmation, text) == platform::BoxAnswer::Yes;
}

void Inform(const QString& text) { platform::Current().boxes->Show(platform::BoxKind::Information, text); }

// Shows the walk on the main window and the progress window. Every value is set as the
// walk goes; pixels are pushed at most about 60 times a second, since the screen shows no
// more and painting each entry would cost more than the walk itself.
class ProgressSink : public WalkSink {
public:
    ProgressSink(TForm1& form, TForm4& progress, std::string mask)
        : form_(form), progress_(progress), mask_(std::move(mask)), limit_(form.SearchLimit) {}

    void BeginMatchesPass(int folders) override {
        listDue_ = true;
        BeginPass(folders);
    }
    void MatchesFolder(int index, std::string_view folder) override {
        label_.assign(folder).append(mask_);
        position_ = index + 1;
        Paint(false);
    }
    void Match(std::string_view path) override {
        form_.CheckListBox1->Add(path);
        ++sinceQuestion_;
        ShowCount();
        PaintCount();
        if (limit_ > 0 && sinceQuestion_ > limit_ && form_.IdleSearchActive == 0) {
            Paint(true);
            if (Confirm(QStringLiteral(
                    "\r\nすべての固定ディスクから検索する方法、およびコンピュータが空き\r\n状態になったら自動的に検索する方法があります。このまま、処理を\r\n続けますか（Y/N)？")))
                sinceQuestion_ = 0;
            else
                form_.SearchCancelled = 1;
        }
    }
    void EndMatchesPass() override {
        listDue_ = true;
        Paint(false);
    }
    void BeginSubfolderPass(int folders) override { BeginPass(folders); }
    void SubfolderFolder(int index, std::string_view folder) override {
        label_.assign(folder).append("*.*");
        position_ = index + 1;
        Paint(false);
    }
    void SubfolderEntries(int) override { Paint(false); }
    bool Cancelled() override { return form_.SearchCancelled == 1; }

    // Whatever is still unpainted, before the window goes away.
    void Finish() { Paint(true); }

private:
    using Clock = std::chrono::steady_clock;

    void BeginPass(int folders) {
        maximum_ = folders;
        position_ = 0;
        Paint(false);
    }
    void ShowCount() {
        QString text = QStringLiteral("リスト数") + QString::number(form_.CheckListBox1->Count());
        if (limit_ > 0)
            text += QLatin1Char('(') + QString::number(sinceQuestion_) + QLatin1Char('/') + QString::number(limit_) +
                    QLatin1Char(')');
        form_.Label8->SetCaption(text);
    }
    bool Due(Clock::time_point& last, bool force) {
        Clock::time_point now = Clock::now();
        if (!force && now - last < kFrame) return false;
        last = now;
        return true;
    }
    void PaintCount() {
        if (Due(countPainted_, false)) form_.Label8->Repaint();
    }
    void Paint(bool force) {
        if (!Due(painted_, force)) return;
        if (label_ != shownLabel_) {
            progress_.SetText(Shown(label_));
            shownLabel_ = label_;
        }
        if (progress_.Maximum() != maximum_) progress_.SetMaximum(maximum_);
        progress_.SetPosition(position_);
        form_.Label8->Repaint();
        countPainted_ = painted_;
        if (listDue_) {
            form_.CheckListBox1->Repaint();
            listDue_ = false;
        }
    }

    static constexpr Clock::duration kFrame = std::chrono::milliseconds(16);
    TForm1& form_;
    TForm4& progress_;
    const std::string mask_;
    const int limit_;
    int sinceQuestion_ = 0;
    std::string label_, shownLabel_ = "\x01";
    int maximum_ = 0, position_ = 0;
    // The list is repainted at the start of a level and after its matches, in the next frame.
    bool listDue_ = false;
    Clock::time_point painted_{}, countPainted_{};
};

}  // namespace

std::string BoxText(const TForm1& form) { return form.ComboBox2->currentText().toLocal8Bit().toStdString(); }

}  // namespace search

void TForm1::SpeedButton1Click() {
    auto running = Search.FullSearch();
    MediaPlayer1->hide();
    Label9->SetCaption(QString());
    const std::string first = search::BoxText(*this);

    auto interrupted = [this] {
        Form4->HideWindow();
        if (IdleSearchActive == 0) search::Inform(QStringLiteral("処理を中断しました"));
    };
    if (IdleSearchActive == 0 &&
        !search::Confirm(QStringLiteral(
            "ファイルを検索するには、\r\n  ①検索数を限定して検索する方法、\r\n  ②すべての固定ディスクから検索する方法、\r\n  "
            "③コンピュータが空き状態になったら自動的に検索する方法\r\n    があります。\r\n    このまま、処理を続けますか（Y/N)？"))) {
        interrupted();
        return;
    }
    // The old list goes only once the search runs: declined, it stays for the quick search.
    if (first.size() >= 2 && first[0] == '*' && first[1] == '.') DeleteStoredList(first);
    MediaPlayer1->hide();
    Label9->hide();
    Image1->show();
    Form4->SetText(QString());
    Form4->ShowWindow();

    SearchCancelled = 0;
    const std::vector<std::string> roots = platform::Current().drives->FixedDrives();
    const std::string mask = search::BoxText(*this);
    CheckListBox1->Clear();

    search::ProgressSink sink(*this, *Form4, mask);
    search::WalkEnd end = search::WalkLevels(roots, mask, *platform::Current().drives, sink);
    sink.Finish();

    if (end == search::WalkEnd::Interrupted) {
        interrupted();
        return;
    }
    Form4->HideWindow();
    if (CheckListBox1->Count() == 0) {
        if (IdleSearchActive == 0)
            search::Inform(QStringLiteral("処理を終了しました。残念ですが、\r\n該当するファイルはありませんでした。\r\n"));
        Form4->HideWindow();
        return;
    }
    if (IdleSearchActive == 0)
        search::Inform(QStringLiteral("処理を終了しました。\r\n検索リストのファイルをクリックすることで\r\nファイルの編集、実行、表示、"
                                      "演奏などができます。\r\n"));
    // A keyword handed over by the quick search is a mask, not a pattern: nothing to store.
    if (mask.size() >= 2 && mask[0] == '*' && mask[1] == '.') WriteStoredList(mask);
    Form4->HideWindow();
}
