// The yardstick of the start-up benchmark: a Qt program that shows one empty window of the
// given client size and says "shown" once it has been painted, the way the program does
// under TESSALY_REPORT_SHOWN. It links Qt Widgets only. Usage: startup_empty_window width height
#include <QApplication>
#include <QWidget>
#include <cstdlib>

#include "app/FirstPaint.h"

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    const int width = std::atoi(argv[1]);
    const int height = std::atoi(argv[2]);
    QApplication app(argc, argv);
    QWidget window;
    window.setFixedSize(width, height);
    window.show();
    AfterFirstPaint(&window, -1, ReportShownAndQuit);
    return app.exec();
}
