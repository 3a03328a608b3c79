#include "platform/MessageBoxes.h"

#include <QApplication>
#include <QLabel>
#include <QLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <algorithm>

namespace platform {

namespace {

// A box that breaks its text only at the text's own line breaks, as long as the longest
// line fits on the screen; only a line wider than the screen is wrapped. Qt's own box
// wraps anything wider than half the screen, which splits sentences mid-word.
class LineKeepingBox : public QMessageBox {
public:
    using QMessageBox::QMessageBox;

protected:
    bool event(QEvent* e) override {
        // Qt re-sizes the box at every layout request, wrapping the text again; while the
        // lines are kept, the sizing here replaces it.
        if (e->type() == QEvent::LayoutRequest && keepLines_) {
            const bool r = QDialog::event(e);
            FitLines();
            return r;
        }
        const bool r = QMessageBox::event(e);
        if (e->type() == QEvent::Show || e->type() == QEvent::FontChange || e->type() == QEvent::StyleChange) {
            keepLines_ = LinesFitScreen();
            if (keepLines_) FitLines();
        }
        return r;
    }

private:
    QLabel* TextLabel() const { return findChild<QLabel*>(QStringLiteral("qt_msgbox_label")); }

    bool LinesFitScreen() const {
        const QLabel* label = TextLabel();
        if (!label || !layout()) return false;
        int longest = 0;
        const QFontMetrics fm(label->font());
        for (const QString& line : label->text().split(QLatin1Char('\n')))
            longest = std::max(longest, fm.horizontalAdvance(line));
        // Everything beside the text: icon, margins, spacing.
        const int beside = std::max(0, width() - label->width());
        const QScreen* where = screen() ? screen() : QGuiApplication::primaryScreen();
        return !where || longest + beside + 2 <= where->availableGeometry().width();
    }

    void FitLines() {
        QLabel* label = TextLabel();
        if (!label || !layout()) return;
        label->setWordWrap(false);
        layout()->activate();
        const QSize want = layout()->totalMinimumSize();
        if (size() != want) setFixedSize(want);
    }

    bool keepLines_ = false;
};

}  // namespace

QString CaptionFor(BoxKind kind) {
    switch (kind) {
        case BoxKind::Confirmation: return QStringLiteral("確認");
        case BoxKind::Information: return QStringLiteral("情報");
        case BoxKind::Error: return QStringLiteral("エラー");
        case BoxKind::Plain: break;
    }
    return QApplication::applicationDisplayName().isEmpty() ? QStringLiteral("Tessaly")
                                                            : QApplication::applicationDisplayName();
}

std::unique_ptr<QMessageBox> MakeMessageBox(BoxKind kind, const QString& text, QWidget* parent) {
    std::unique_ptr<QMessageBox> box = std::make_unique<LineKeepingBox>(parent);
    box->setWindowTitle(CaptionFor(kind));
    box->setTextFormat(Qt::PlainText);
    // The texts carry Windows line breaks; a plain-text label breaks lines at LF alone.
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
    box->setText(shown);
    switch (kind) {
        case BoxKind::Confirmation: box->setIcon(QMessageBox::Question); break;
        case BoxKind::Information: box->setIcon(QMessageBox::Information); break;
        case BoxKind::Error: box->setIcon(QMessageBox::Critical); break;
        case BoxKind::Plain: box->setIcon(QMessageBox::NoIcon); break;
    }
    if (kind == BoxKind::Confirmation) {
        QPushButton* yes = box->addButton(QStringLiteral("はい(&Y)"), QMessageBox::YesRole);
        QPushButton* no = box->addButton(QStringLiteral("いいえ(&N)"), QMessageBox::NoRole);
        box->setDefaultButton(yes);
        box->setEscapeButton(no);
    } else {
        QPushButton* ok = box->addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
        box->setDefaultButton(ok);
        box->setEscapeButton(ok);
    }
    return box;
}

BoxAnswer RunMessageBox(QMessageBox& box, BoxKind kind) {
    box.exec();
    if (kind != BoxKind::Confirmation) return BoxAnswer::Ok;
    return box.clickedButton() == box.defaultButton() ? BoxAnswer::Yes : BoxAnswer::No;
}

BoxAnswer QtMessageBoxes::Show(BoxKind kind, const QString& text) {
    std::unique_ptr<QMessageBox> box = MakeMessageBox(kind, text, QApplication::activeWindow());
    return RunMessageBox(*box, kind);
}

}  // namespace platform
