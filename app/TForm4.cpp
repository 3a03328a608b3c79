#include "app/TForm4.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QLabel>
#include <QProgressBar>
#include <QThread>
#include <QWindow>
#include <algorithm>

#include "platform/Fonts.h"
#include "platform/Desktop.h"
#include "platform/Services.h"

TForm4::TForm4(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint) {
    setWindowTitle(QStringLiteral("しばらくお待ちください"));
    setFixedSize(741, 81);
    setFont(platform::DesignFont(platform::kFontPMincho, 12));
    setAttribute(Qt::WA_QuitOnClose, false);

    Label1 = new QLabel(QStringLiteral("Label1"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    // It shows folder names, which are never markup.
    Label1->setTextFormat(Qt::PlainText);
    Label1->setFont(platform::DesignFont(platform::kFontMincho, 12));
    Label1->move(16, 8);
    Label1->adjustSize();

    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setGeometry(16, 32, 713, 17);
    // A plain bar: a percentage would count folders of one level, not the time left.
    ProgressBar1->setTextVisible(false);
    ProgressBar1->setAccessibleName(QStringLiteral("検索の進み具合"));
    ApplyBar();

    FormCreate();
}

void TForm4::FormCreate() {
    // A screen narrower than the window (a high scale) gets a narrower window and bar; the
    // folder name is the one thing that may then run past the right edge.
    const QRect area = platform::Current().desktop->AvailableArea();
    const int room = area.width() - platform::kFrameWidth;
    if (!area.isEmpty() && room < width()) {
        setFixedSize(std::max(room, 120), height());
        ProgressBar1->resize(width() - 2 * ProgressBar1->x(), ProgressBar1->height());
    }
    platform::CentreWindow(this);
}

void TForm4::ShowWindow() {
    show();
    // The searches call this from inside a long handler. A window becomes visible only when
    // the window system has mapped it, and until then every repaint is lost, so wait for
    // that here (a second at most), taking only window-system events: no timer ticks, no
    // sockets and no user input may run in the middle of a search.
    if (QWindow* window = windowHandle()) {
        QDeadlineTimer deadline(1000);
        while (!window->isExposed() && !deadline.hasExpired()) {
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents | QEventLoop::ExcludeSocketNotifiers |
                                            QEventLoop::X11ExcludeTimers);
            if (!window->isExposed()) QThread::msleep(2);
        }
    }
    repaint();
}

void TForm4::HideWindow() { hide(); }

void TForm4::RepaintAll() { repaint(); }

void TForm4::SetText(const QString& text) {
    Label1->setText(text);
    Label1->adjustSize();
    Label1->repaint();
}

void TForm4::SetMaximum(int maximum) {
    maximum_ = maximum;
    position_ = std::clamp(position_, 0, std::max(maximum_, 0));
    ApplyBar();
}

void TForm4::SetPosition(int position) {
    position_ = std::clamp(position, 0, std::max(maximum_, 0));
    ApplyBar();
    ProgressBar1->repaint();
}

void TForm4::RepaintBar() { ProgressBar1->repaint(); }

void TForm4::ApplyBar() {
    // An empty range would turn QProgressBar into a busy indicator; a level without
    // folders must show an empty bar instead.
    if (maximum_ <= 0) {
        ProgressBar1->setRange(0, 1);
        ProgressBar1->setValue(0);
    } else {
        ProgressBar1->setRange(0, maximum_);
        ProgressBar1->setValue(position_);
    }
}
