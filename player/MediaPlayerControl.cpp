#include "player/MediaPlayerControl.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QStyle>

namespace {

// Names of the buttons, in the order of TMediaPlayer::Button.
const char* const kButtonNames[TMediaPlayer::kButtonCount] = {"再生", "一時停止", "停止", "次へ", "前へ",
                                                              "コマ送り", "コマ戻し", "録音", "取り出し"};

// Assistive technology sees the control as a tool bar holding the buttons that show; the
// hidden ones are not offered at all, as a sighted user never meets them.
class PlayerAccessible : public QAccessibleWidget {
public:
    explicit PlayerAccessible(TMediaPlayer* player) : QAccessibleWidget(player, QAccessible::ToolBar) {}

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name && widget()->accessibleName().isEmpty()) return QStringLiteral("メディアプレーヤー");
        return QAccessibleWidget::text(t);
    }
    int childCount() const override { return static_cast<int>(Shown().size()); }
    QAccessibleInterface* child(int index) const override {
        const std::vector<QWidget*> shown = Shown();
        if (index < 0 || index >= static_cast<int>(shown.size())) return nullptr;
        return QAccessible::queryAccessibleInterface(shown[static_cast<size_t>(index)]);
    }
    int indexOfChild(const QAccessibleInterface* child) const override {
        if (!child) return -1;
        const std::vector<QWidget*> shown = Shown();
        for (size_t i = 0; i < shown.size(); ++i)
            if (shown[i] == child->object()) return static_cast<int>(i);
        return -1;
    }

private:
    std::vector<QWidget*> Shown() const {
        const auto* player = static_cast<const TMediaPlayer*>(widget());
        std::vector<QWidget*> out;
        for (int i = 0; i < TMediaPlayer::kButtonCount; ++i) {
            const auto b = static_cast<TMediaPlayer::Button>(i);
            if (player->ButtonVisible(b)) out.push_back(player->ButtonWidget(b));
        }
        return out;
    }
};

QAccessibleInterface* PlayerAccessibleFactory(const QString& className, QObject* object) {
    if (className == QLatin1String("TMediaPlayer")) return new PlayerAccessible(static_cast<TMediaPlayer*>(object));
    return nullptr;
}

}  // namespace

TMediaPlayer::TMediaPlayer(QWidget* parent) : QWidget(parent) {
    // Installed after the widgets' own factory, so it is asked first (see Controls.cpp).
    static bool factoryInstalled = false;
    if (!factoryInstalled) {
        factoryInstalled = true;
        QAccessible::installFactory(PlayerAccessibleFactory);
    }
    for (int i = 0; i < kButtonCount; ++i) {
        buttons_[i] = new QToolButton(this);
        buttons_[i]->setAutoRaise(false);
        buttons_[i]->setAccessibleName(QString::fromUtf8(kButtonNames[i]));
        visible_[i] = true;
    }
    LayOut();
}

void TMediaPlayer::SetVisibleButtons(std::initializer_list<Button> list) {
    visible_.fill(false);
    for (Button b : list) visible_[b] = true;
    LayOut();
    if (QAccessible::isActive()) {
        // The buttons offered to assistive technology changed.
        QAccessibleEvent changed(this, QAccessible::ObjectReorder);
        QAccessible::updateAccessibility(&changed);
    }
}

void TMediaPlayer::SetEnabledButtons(std::initializer_list<Button> list) {
    for (QToolButton* b : buttons_) b->setEnabled(false);
    for (Button b : list) buttons_[b]->setEnabled(true);
}

bool TMediaPlayer::ButtonVisible(Button b) const { return visible_[b]; }

void TMediaPlayer::resizeEvent(QResizeEvent*) { LayOut(); }

void TMediaPlayer::showEvent(QShowEvent*) { LoadIcons(); }

void TMediaPlayer::LoadIcons() {
    if (iconsLoaded_) return;
    iconsLoaded_ = true;
    static const QStyle::StandardPixmap icons[kButtonCount] = {
        QStyle::SP_MediaPlay,         QStyle::SP_MediaPause,        QStyle::SP_MediaStop,
        QStyle::SP_MediaSkipForward,  QStyle::SP_MediaSkipBackward, QStyle::SP_MediaSeekForward,
        QStyle::SP_MediaSeekBackward, QStyle::SP_DialogYesButton,   QStyle::SP_ArrowUp};
    for (int i = 0; i < kButtonCount; ++i) buttons_[i]->setIcon(style()->standardIcon(icons[i]));
}

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
