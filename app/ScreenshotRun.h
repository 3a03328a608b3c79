#pragma once
// The screenshot run (TESSALY_SCREENSHOTS=folder): a look at the program on a machine
// without a screen. It saves the windows and every box that comes up, answers the boxes
// itself, and ends by itself.
#include <QString>
#include <functional>

#include "platform/MessageBoxes.h"

// Boxes for a run nobody watches: every box is handed to `capture` `answerAfterMs` after it
// is up and then closed as its escape button closes it (No or OK), so no box waits for an
// answer that never comes.
class UnattendedMessageBoxes : public platform::MessageBoxes {
public:
    platform::BoxAnswer Show(platform::BoxKind kind, const QString& text) override;

    int answerAfterMs = 300;
    std::function<void(QMessageBox&)> capture;
};

// Installs boxes that are saved to `folder` (box-1.png, …) and answered, and a watchdog that
// ends a run which has not finished in a minute with exit code 3.
void BeginScreenshotRun(const QString& folder);

// Once the main window has settled, saves it in both views, the extension box and the help
// window to `folder`, prints each path, and ends the event loop.
void TakeScreenshotsSoon(const QString& folder);
