#pragma once
// The download list window: the music site's songs to pick from.
#include <QWidget>

class TForm5 : public QWidget {
    Q_OBJECT
public:
    explicit TForm5(QWidget* parent = nullptr);
    void FormCreate();
};
