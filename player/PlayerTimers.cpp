// Continuous play step and remaining display.
#include "app/TForm1.h"

void TForm1::Timer1Timer() {}

void TForm1::Timer2Timer() {}
