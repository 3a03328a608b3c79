// Manual and automatic (continuous) play mode.
#include "app/TForm1.h"

namespace {
QString TwoLines(const char* first, const char* second) {
    return QString::fromUtf8(first) + QLatin1Char('\n') + QString::fromUtf8(second);
}
}  // namespace

void TForm1::SpeedButton5Click() {
    if (AutoPlay != 0) {
        AutoPlay = 0;
        SpeedButton5->setText(TwoLines("現在手動", "モードです"));
        Timer1->SetEnabled(false);
    } else {
        AutoPlay = 1;
        SpeedButton5->setText(TwoLines("現在自動", "モードです"));
        Timer1->SetEnabled(true);
    }
}

void TForm1::SwitchToManualPlay() {
    if (AutoPlay == 1) SpeedButton5Click();
}
