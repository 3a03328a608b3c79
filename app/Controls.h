#pragma once
// Small controls that the windows use and Qt lacks in the shape the handlers expect.
#include <QGroupBox>
#include <QLabel>
#include <QObject>
#include <QTimer>
#include <functional>

// Makes the painted controls (labels, status bar) and picture boxes (labels without text)
// tell assistive technology their text; the first control created calls it.
void InstallControlAccessibility();

// Gives a button a text colour of its own while it can be used; disabled, it greys out as
// every other button does, so it never looks usable when it is not.
void SetButtonTextColour(QWidget* button, const QColor& colour);

// Names the scroll bars of a scrolling control after the control, for assistive technology.
void NameScrollBars(class QAbstractScrollArea* area, const QString& owner);

// An interval timer: ticks on the GUI thread while enabled; enabling restarts the countdown.
class TTimer : public QObject {
    Q_OBJECT
public:
    TTimer(int interval, bool enabled, QObject* parent = nullptr);
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool enabled);
    int Interval() const { return timer_.interval(); }
    void SetInterval(int ms);
    // The tick handler; exceptions are shown in the error box.
    std::function<void()> OnTimer;

private:
    void Tick();
    QTimer timer_;
    bool enabled_;
};

// A label that sizes itself to its text, so a longer caption is never cut. Setting the
// text only records it and schedules a paint, so a handler may update it per list entry;
// the size follows before the next paint.
class TLabel : public QWidget {
    Q_OBJECT
public:
    explicit TLabel(const QString& text, QWidget* parent = nullptr);
    QString text() const { return text_; }
    void setText(const QString& text);
    void SetCaption(const QString& text) { setText(text); }
    // Sizes and paints the label at once, for handlers that do not return to the event loop.
    void Repaint();
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent*) override;
    void changeEvent(QEvent* e) override;

private:
    void ApplySize();
    QString text_;
    bool sizeQueued_ = false;
};

// A group box with its caption on the frame's top line, the caption's letters from the box's
// top edge down: controls placed just below the caption stay clear of it.
class TGroupBox : public QGroupBox {
    Q_OBJECT
public:
    TGroupBox(const QString& title, QWidget* parent = nullptr);
    // Where the caption's text is drawn, and in which font.
    QRect CaptionRect() const;
    QFont CaptionFont() const;
    // The caption's size in pixels, when it differs from the box's font.
    void SetCaptionPixelSize(int pixels);

protected:
    void paintEvent(QPaintEvent*) override;

private:
    int captionPixels_ = 0;
};

// A status bar in simple-text mode: one line of text across its width.
class TStatusBar : public QLabel {
    Q_OBJECT
public:
    explicit TStatusBar(QWidget* parent = nullptr);
    QString SimpleText() const { return text(); }
    void SetSimpleText(const QString& text) { setText(text); }
};
