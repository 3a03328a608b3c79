// Connections between the main window's player controls and their handlers.
#include <QEvent>

#include "app/TForm1.h"
#include "platform/Guard.h"
#include "platform/Services.h"

namespace {

// Double-clicks on the thumbnail, which as a label has no signal for them.
class DoubleClickFilter : public QObject {
public:
    DoubleClickFilter(QObject* parent, std::function<void()> onDoubleClick)
        : QObject(parent), onDoubleClick_(std::move(onDoubleClick)) {}
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() != QEvent::MouseButtonDblClick) return false;
        platform::Guarded(onDoubleClick_);
        return true;
    }

private:
    std::function<void()> onDoubleClick_;
};

}  // namespace

void TForm1::WirePlayerControls() {
    CheckListBox1->OnClick = [this] { CheckListBox1Click(); };
    connect(SpeedButton5, &QAbstractButton::clicked, this, [this] { platform::Guarded([this] { SpeedButton5Click(); }); });
    // The control's own buttons act on the open device without the program's handlers.
    auto device = [this](TMediaPlayer::Button b, void (platform::MediaDevice::*op)()) {
        connect(MediaPlayer1->ButtonWidget(b), &QToolButton::clicked, this, [op] {
            platform::Guarded([op] { (platform::Current().media.get()->*op)(); });
        });
    };
    device(TMediaPlayer::btPlay, &platform::MediaDevice::Play);
    device(TMediaPlayer::btPause, &platform::MediaDevice::Pause);
    device(TMediaPlayer::btStop, &platform::MediaDevice::Stop);
    auto bar = [this](QScrollBar* s, void (TForm1::*handler)()) {
        connect(s, &QScrollBar::valueChanged, this, [this, handler] { platform::Guarded([this, handler] { (this->*handler)(); }); });
    };
    bar(ScrollBar1, &TForm1::ScrollBar1Scroll);
    bar(ScrollBar2, &TForm1::ScrollBar2Scroll);
    bar(ScrollBar3, &TForm1::ScrollBar3Scroll);
    Image1->installEventFilter(new DoubleClickFilter(Image1, [this] { Image1DblClick(); }));
    Image1->setAccessibleName(QStringLiteral("ダブルクリックで大きくなります"));
    // A video's window goes beside these buttons, not over them.
    if (platform::MediaDevice* media = platform::Current().media.get()) media->KeepClearOf(MediaPlayer1);
}
