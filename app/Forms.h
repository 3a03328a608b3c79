#pragma once
// The program's five windows, created once at start-up in a fixed order.
#include <memory>

class TForm1;
class TForm3;
class TForm4;
class TForm5;
class TForm6;

extern TForm1* Form1;
extern TForm3* Form3;
extern TForm4* Form4;
extern TForm5* Form5;
extern TForm6* Form6;

// Owns the windows; destroying it destroys them and clears the pointers above.
class ApplicationWindows {
public:
    ApplicationWindows();
    ~ApplicationWindows();
    ApplicationWindows(const ApplicationWindows&) = delete;
    ApplicationWindows& operator=(const ApplicationWindows&) = delete;
};
