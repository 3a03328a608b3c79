// Continuous play step and remaining display.
#include "app/TForm1.h"
#include "platform/Files.h"
#include "platform/Services.h"
#include "player/Playback.h"

void TForm1::Timer2Timer() {
    platform::MediaDevice& media = *platform::Current().media;
    if (!media.IsOpen()) return;
    Label9->setText(player::RemainingText(media.Position(), media.Length()));
}

void TForm1::Timer1Timer() {
    // An activation is still waiting for an answer (an ".EXE" reached by this step): a
    // second one must not start under it.
    if (ActivationDepth > 0) return;
    if (CheckListBox1->Count() == 0) return;
    if (CheckListBox1->ItemIndex() == -1) {
        CheckListBox1->SetItemIndex(0);
        CheckListBox1Click();
        // The activation may have waited on a box while the list changed.
        if (CheckListBox1->Count() == 0 || CheckListBox1->ItemIndex() == -1) return;
    }
    {
        const int i = CheckListBox1->ItemIndex();
        if (player::IsStoreEntry(CheckListBox1->Text(i))) CheckListBox1->SetItemIndex((i + 1) % CheckListBox1->Count());
    }
    platform::MediaDevice& media = *platform::Current().media;
    if (player::IsAtStartText(Label9->text()) && media.IsOpen()) {
        // The marker is made empty when missing; a failure is not reported.
        platform::CreateFileIfMissing(WorkPath("chgcmd.txt"));
        media.Play();
        MediaPlayer1->SetVisibleButtons({TMediaPlayer::btPlay, TMediaPlayer::btPause, TMediaPlayer::btStop});
        MediaPlayer1->SetEnabledButtons({TMediaPlayer::btPlay, TMediaPlayer::btPause, TMediaPlayer::btStop});
    }
    if (!player::IsFinishedText(Label9->text())) return;
    const int count = CheckListBox1->Count();
    CheckListBox1->SetItemIndex((CheckListBox1->ItemIndex() + 1) % count);
    // Over result-store entries, at most once round the list.
    for (int moves = 1; player::IsStoreEntry(CheckListBox1->Text(CheckListBox1->ItemIndex())); ++moves) {
        if (moves >= count) return;
        CheckListBox1->SetItemIndex((CheckListBox1->ItemIndex() + 1) % count);
    }
    CheckListBox1Click();
}
