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
    enum class Start {
        // All five at once.
        AllWindows,
        // The main window only; the hidden ones follow with CreateHiddenWindows(), so that
        // their construction does not delay the main window's first paint.
        MainWindowFirst,
    };
    explicit ApplicationWindows(Start start = Start::AllWindows);
    ~ApplicationWindows();
    ApplicationWindows(const ApplicationWindows&) = delete;
    ApplicationWindows& operator=(const ApplicationWindows&) = delete;

    // Creates the windows that MainWindowFirst left out, in the fixed order; only the first
    // call does anything (a window closed for good later is not made again).
    void CreateHiddenWindows();

private:
    bool hiddenCreated_ = false;
};
