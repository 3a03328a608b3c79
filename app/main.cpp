// Entry routine: the application, its windows in their fixed order, the event loop.
#include "app/Application.h"

int main(int argc, char** argv) { return RunTessaly(argc, argv); }
