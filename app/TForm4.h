#pragma once
// Please-wait window of the disk searches: one line of text and a progress bar.
//
// The searches run inside one event handler and never return to the event loop while
// they walk the disks, so every operation here paints at once instead of scheduling a
// paint for later.
#include <QWidget>

class QLabel;
class QProgressBar;

class TForm4 : public QWidget {
    Q_OBJECT
public:
    explicit TForm4(QWidget* parent = nullptr);

    void ShowWindow();
    void HideWindow();
    void RepaintAll();
    void SetText(const QString& text);
    void SetMaximum(int maximum);
    // Clamped to 0..maximum: a count past the end shows a full bar, never a wrong one.
    void SetPosition(int position);
    void RepaintBar();

    int Maximum() const { return maximum_; }
    int Position() const { return position_; }

    QLabel* Label1 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;

private:
    void FormCreate();
    void ApplyBar();

    int maximum_ = 100;
    int position_ = 0;
};
