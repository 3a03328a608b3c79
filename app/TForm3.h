#pragma once
// Help window: the fixed help text in a list and a button that puts it away.
#include <QWidget>

class QListWidget;
class QPushButton;

class TForm3 : public QWidget {
    Q_OBJECT
public:
    explicit TForm3(QWidget* parent = nullptr);

    // The main window's help button: show without blocking the main window; a window that
    // is already open is only brought to the front, never opened a second time.
    void ShowHelp();

    QListWidget* ListBox1 = nullptr;
    QPushButton* Button1 = nullptr;

private:
    void FormCreate();
    void Button1Click();
};
