// Idle check and automatic search steps.
#include <QCheckBox>
#include <QComboBox>
#include <algorithm>

#include "app/TForm1.h"
#include "platform/Services.h"
#include "search/Searches.h"

namespace {

// Keys whose use counts as activity, in the order they are asked for: letters, arrows,
// digits, space.
constexpr int kWatchedKeys[] = {65, 66, 67, 68, 69, 70, 71, 72, 73, 74, 75, 76, 77, 78, 79, 80, 81, 82, 83, 84, 85,
                                86, 87, 88, 89, 90, 37, 38, 39, 40, 48, 49, 50, 51, 52, 53, 54, 55, 56, 57, 32};

bool AnyWatchedKey() {
    platform::KeyState& keys = *platform::Current().keys;
    for (int vk : kWatchedKeys)
        if (keys.GetAsyncKeyState(vk) != 0) return true;
    return false;
}

// Seconds of idleness before automatic mode: the chosen item times 300. Typed text that is
// no item gives index -1.
int IdleThreshold(const QComboBox* box) {
    int index = box->currentIndex();
    if (box->isEditable() && (index < 0 || box->currentText() != box->itemText(index))) index = -1;
    return index * 300;
}

// The start latch is the colour of Label5: red once the sequence was armed in this idle period.
bool LatchRed(const TLabel* latch) { return latch->palette().color(QPalette::WindowText) == QColor(255, 0, 0); }

void SetColour(QWidget* w, QColor colour) {
    QPalette p = w->palette();
    p.setColor(QPalette::WindowText, colour);
    w->setPalette(p);
}

// The step marker, and the countdown line beside it moved clear of it: "完了 " is wider than
// the room the line leaves at its usual place.
void SetStepMarker(TForm1& form, const QString& text) {
    constexpr int kLineLeft = 24, kGap = 4;
    form.Label11->SetCaption(text);
    const int clear = form.Label11->x() + form.Label11->sizeHint().width() + kGap;
    form.Label10->move(std::max(kLineLeft, clear), form.Label10->y());
}

}  // namespace

void TForm1::CheckBox2Click() { ComboBox3->setEnabled(CheckBox2->isChecked()); }

void TForm1::Timer3Timer() {
    const bool key = AnyWatchedKey();
    QPoint cursor;
    if (!key) cursor = platform::Current().desktop->CursorPos();
    const int threshold = IdleThreshold(ComboBox3);
    if (!Search.IdleTick(CheckBox2->isChecked(), key, cursor, threshold))
        Label10->SetCaption(QStringLiteral("　　　　　　　　　　　　　"));
    if (IdleSearchActive == 1) {
        if (!LatchRed(Label5)) Timer4->SetEnabled(true);
        SetColour(Label5, QColor(255, 0, 0));
    } else {
        SetColour(Label5, Qt::black);
        SetStepMarker(*this, QStringLiteral("　"));
    }
    if (CheckBox2->isChecked() && IdleSeconds > 0 && threshold >= IdleSeconds) {
        SetColour(Label10, QColor(0x99, 0x99, 0x99));
        Label10->SetCaption(QStringLiteral("残り") + QString::number(threshold - IdleSeconds) +
                            QStringLiteral("秒で自動検索モードへ移行予定"));
    }
    if (IdleSearchActive == 1) Label10->SetCaption(QStringLiteral("自動検索モード..."));
}

void TForm1::Timer4Timer() {
    Timer4->SetEnabled(false);
    if (Search.FullSearchRunning()) {
        // A search is waiting on one of its boxes; a second one inside it would replace the
        // list that the first is about to store. Try again later.
        Timer4->SetEnabled(true);
        return;
    }
    SetStepMarker(*this, QStringLiteral("*"));
    if (IdleSearchActive == 0) {
        SearchCancelled = 1;
        SetStepMarker(*this, QStringLiteral(" "));
        return;
    }
    if (AutoSearchIndex < search::kAutoPatternCount) {
        ComboBox2->setEditText(QString::fromLatin1(search::kAutoPatterns[AutoSearchIndex]));
        SpeedButton1Click();
        ++AutoSearchIndex;
        if (AutoSearchIndex < search::kAutoPatternCount) {
            Timer4->SetEnabled(true);
            return;
        }
    }
    // The sequence is complete, now or in an earlier idle period: each pattern is searched
    // once per run of the program, and later idle periods start nothing.
    IdleSearchActive = 0;
    SearchCancelled = 0;
    SetStepMarker(*this, QStringLiteral("完了 "));
}
