#pragma once
// The media player control: a row of buttons over the media device.
#include <QToolButton>
#include <QWidget>
#include <array>

class TMediaPlayer : public QWidget {
    Q_OBJECT
public:
    enum Button { btPlay, btPause, btStop, btNext, btPrev, btStep, btBack, btRecord, btEject };
    static constexpr int kButtonCount = 9;

    explicit TMediaPlayer(QWidget* parent = nullptr);
    // Shows the listed buttons, in the fixed order, and hides the others.
    void SetVisibleButtons(std::initializer_list<Button> buttons);
    bool ButtonVisible(Button b) const;
    // Lets the listed buttons respond and greys out the others.
    void SetEnabledButtons(std::initializer_list<Button> buttons);
    bool ButtonEnabled(Button b) const { return buttons_[b]->isEnabled(); }
    QToolButton* ButtonWidget(Button b) const { return buttons_[b]; }

protected:
    void resizeEvent(QResizeEvent*) override;
    void showEvent(QShowEvent*) override;

private:
    void LayOut();
    // The style's media icons come from the icon theme, whose lookup loads image plugins:
    // done when the control first shows, not while the main window is being made.
    void LoadIcons();
    bool iconsLoaded_ = false;
    std::array<QToolButton*, kButtonCount> buttons_{};
    std::array<bool, kButtonCount> visible_{};
};
