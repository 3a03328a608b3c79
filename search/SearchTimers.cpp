// Idle check and automatic search steps.
#include "app/TForm1.h"

void TForm1::Timer3Timer() {}

void TForm1::Timer4Timer() {}
