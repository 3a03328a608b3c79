// The help button of the main window.
#include "app/Forms.h"
#include "app/TForm1.h"
#include "app/TForm3.h"

void TForm1::SpeedButton6Click() {
    if (Form3) Form3->ShowHelp();
}
