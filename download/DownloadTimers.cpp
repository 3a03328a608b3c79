// Catalogue fetch completion and download queue step.
#include "app/TForm1.h"

void TForm1::Timer5Timer() {}

void TForm1::Timer6Timer() {}
