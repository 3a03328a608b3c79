#pragma once
// A picture box that stretches its picture to its own size.
#include <QWidget>

#include "pictures/Pictures.h"

class TImage : public QWidget {
    Q_OBJECT
public:
    explicit TImage(QWidget* parent = nullptr);
    void SetPicture(platform::Picture picture);
    const platform::Picture& Picture() const { return picture_; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    platform::Picture picture_;
};
