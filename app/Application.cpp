#include "app/Application.h"

#include "platform/Fonts.h"
#include "platform/Guard.h"
#include "platform/Services.h"

int RunTessaly(int argc, char** argv) {
    platform::GuardedApplication app(argc, argv);
    platform::InstallFontSubstitutes();
    platform::InstallSystemServices(QCoreApplication::applicationFilePath().toStdString());
    return 0;
}
