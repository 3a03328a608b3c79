#pragma once
int RunTessaly(int argc, char** argv);
