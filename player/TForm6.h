#pragma once
// The picture viewer window.
#include <QToolButton>
#include <QWidget>

#include "player/PictureBox.h"

class TForm6 : public QWidget {
    Q_OBJECT
public:
    // The frame around the client area, as on the main window.
    static constexpr int kFrameWidth = 6;
    static constexpr int kFrameHeight = 27;

    explicit TForm6(QWidget* parent = nullptr);
    QSize OuterSize() const { return {width() + kFrameWidth, height() + kFrameHeight}; }

    TImage* Image1;
    QToolButton* PrintBtn;

    void FormCreate();
    void FormResize();
    void PrintBtnClick();

protected:
    void resizeEvent(QResizeEvent*) override;
};
