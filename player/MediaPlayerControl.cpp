#include "player/MediaPlayerControl.h"

#include <QStyle>

TMediaPlayer::TMediaPlayer(QWidget* parent) : QWidget(parent) {
    static const QStyle::StandardPixmap icons[kButtonCount] = {
        QStyle::SP_MediaPlay,         QStyle::SP_MediaPause,        QStyle::SP_MediaStop,
        QStyle::SP_MediaSkipForward,  QStyle::SP_MediaSkipBackward, QStyle::SP_MediaSeekForward,
        QStyle::SP_MediaSeekBackward, QStyle::SP_DialogYesButton,   QStyle::SP_ArrowUp};
    static const char* const names[kButtonCount] = {"Play", "Pause", "Stop", "Next", "Prev",
                                                    "Step", "Back", "Record", "Eject"};
    for (int i = 0; i < kButtonCount; ++i) {
        buttons_[i] = new QToolButton(this);
        buttons_[i]->setIcon(style()->standardIcon(icons[i]));
        buttons_[i]->setAutoRaise(false);
        buttons_[i]->setAccessibleName(QString::fromLatin1(names[i]));
        visible_[i] = true;
    }
    LayOut();
}

void TMediaPlayer::SetVisibleButtons(std::initializer_list<Button> list) {
    visible_.fill(false);
    for (Button b : list) visible_[b] = true;
    LayOut();
}

void TMediaPlayer::SetEnabledButtons(std::initializer_list<Button> list) {
    for (QToolButton* b : buttons_) b->setEnabled(false);
    for (Button b : list) buttons_[b]->setEnabled(true);
}

bool TMediaPlayer::ButtonVisible(Button b) const { return visible_[b]; }

void TMediaPlayer::resizeEvent(QResizeEvent*) { LayOut(); }

void TMediaPlayer::LayOut() {
    int shown = 0;
    for (bool v : visible_) shown += v;
    int w = shown ? width() / shown : 0;
    int x = 0;
    for (int i = 0; i < kButtonCount; ++i) {
        buttons_[i]->setVisible(visible_[i]);
        if (!visible_[i]) continue;
        buttons_[i]->setGeometry(x, 0, w, height());
        x += w;
    }
}
