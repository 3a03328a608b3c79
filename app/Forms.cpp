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

ApplicationWindows::ApplicationWindows(Start start) {
    // The main window first, then the hidden ones, always in the same order, so that every
    // start and every test builds the same state. Only the main window is shown afterwards.
    Form1 = new TForm1();
    if (start == Start::AllWindows) CreateHiddenWindows();
}

void ApplicationWindows::CreateHiddenWindows() {
    if (hiddenCreated_) return;
    hiddenCreated_ = true;
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
