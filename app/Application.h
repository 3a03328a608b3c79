#pragma once
// The entry routine: the application object, the windows, the event loop.
int RunTessaly(int argc, char** argv);
