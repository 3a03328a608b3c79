#include "download/MainWindowHold.h"

#include <QCheckBox>
#include <QComboBox>
#include <array>

#include "app/Forms.h"
#include "app/TForm1.h"
#include "download/TForm5.h"

namespace download {

namespace {

std::array<QWidget*, 10> HeldControls(TForm1& f) {
    return {f.Label1, f.SpeedButton1, f.SpeedButton2, f.SpeedButton5, f.Button1,
            f.Button2, f.Button5, f.ComboBox2, f.CheckBox2, f.ComboBox3};
}

}  // namespace

void HoldMainWindow(TForm1& form) {
    for (QWidget* w : HeldControls(form)) w->setEnabled(false);
}

bool SongOnItsWay(const TForm1& form) { return form.Timer6->Enabled() || form.Download.Busy(); }

bool GiveMainWindowBack(TForm1& form, bool listClosing) {
    const bool listOpen = Form5 && Form5->isVisible() && !listClosing;
    if (listOpen || SongOnItsWay(form) || form.Timer5->Enabled()) return false;
    for (QWidget* w : HeldControls(form)) w->setEnabled(true);
    form.ComboBox3->setEnabled(form.CheckBox2->isChecked());
    return true;
}

void ShowListWindow(TForm1& form) {
    if (!Form5) return;
    form.Button2->setEnabled(false);
    Form5->show();
    Form5->raise();
    Form5->activateWindow();
}

}  // namespace download
