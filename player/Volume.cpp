// Left and right volume.
#include "app/TForm1.h"
#include "platform/Services.h"
#include "player/Playback.h"

namespace {
void ApplyVolume(TForm1& f) {
    platform::Current().waveOut->SetVolume(player::VolumeValue(f.ScrollBar2->value(), f.ScrollBar1->value()));
}
}  // namespace

void TForm1::ScrollBar1Scroll() { ApplyVolume(*this); }

void TForm1::ScrollBar2Scroll() { ApplyVolume(*this); }

void TForm1::ScrollBar3Scroll() {
    {
        // Moved together: one value goes out, not one per bar.
        const QSignalBlocker right(ScrollBar1);
        const QSignalBlocker left(ScrollBar2);
        ScrollBar1->setValue(ScrollBar3->value());
        ScrollBar2->setValue(ScrollBar3->value());
    }
    ApplyVolume(*this);
}
