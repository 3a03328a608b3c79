#include "app/Forms.h"

#include "app/TForm1.h"
#include "app/TForm3.h"
#include "app/TForm4.h"
#include "download/TForm5.h"
#include "player/TForm6.h"

TForm3* Form3 = nullptr;
TForm4* Form4 = nullptr;
TForm5* Form5 = nullptr;
TForm6* Form6 = nullptr;

ApplicationWindows::ApplicationWindows() {
    // The design's order of creation; only the main window is shown afterwards.
    Form1 = new TForm1();
    Form4 = new TForm4();
    Form6 = new TForm6();
    Form3 = new TForm3();
    Form5 = new TForm5();
}

ApplicationWindows::~ApplicationWindows() {
    delete Form5;
    Form5 = nullptr;
    delete Form3;
    Form3 = nullptr;
    delete Form6;
    Form6 = nullptr;
    delete Form4;
    Form4 = nullptr;
    delete Form1;
    Form1 = nullptr;
}
