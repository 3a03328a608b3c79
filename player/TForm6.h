#pragma once
// The picture viewer window.
#include <QToolButton>
#include <QWidget>

#include "platform/Desktop.h"

#include "player/PictureBox.h"

class TForm6 : public QWidget {
    Q_OBJECT
public:
    // The frame around the client area, as on the main window.

    explicit TForm6(QWidget* parent = nullptr);
    QSize OuterSize() const { return platform::OuterSizeOf(size()); }

    TImage* Image1;
    QToolButton* PrintBtn;

    void FormCreate();
    void FormResize();
    void PrintBtnClick();

protected:
    void resizeEvent(QResizeEvent*) override;
};
