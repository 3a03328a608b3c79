#include "app/Controls.h"

#include <QAbstractScrollArea>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QCoreApplication>
#include <QEvent>
#include <QFontMetrics>
#include <QHelpEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyleOptionFrame>
#include <QTextDocument>
#include <QToolTip>
#include <algorithm>

void SetButtonTextColour(QWidget* button, const QColor& colour) {
    QPalette p = button->palette();
    p.setColor(QPalette::Active, QPalette::ButtonText, colour);
    p.setColor(QPalette::Inactive, QPalette::ButtonText, colour);
    button->setPalette(p);
}

void NameScrollBars(QAbstractScrollArea* area, const QString& owner) {
    area->verticalScrollBar()->setAccessibleName(owner + QStringLiteral("の縦スクロールバー"));
    area->horizontalScrollBar()->setAccessibleName(owner + QStringLiteral("の横スクロールバー"));
}

TLabel::TLabel(const QString& text, QWidget* parent) : QWidget(parent), text_(text) {
    InstallControlAccessibility();
    ApplySize();
}

void TLabel::setText(const QString& text) {
    if (text == text_) return;
    text_ = text;
    if (QAccessible::isActive()) {
        QAccessibleEvent changed(this, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&changed);
    }
    update();
    if (sizeQueued_) return;
    sizeQueued_ = true;
    QMetaObject::invokeMethod(this, [this] { ApplySize(); }, Qt::QueuedConnection);
}

void TLabel::ApplySize() {
    sizeQueued_ = false;
    QSize want = sizeHint();
    if (want != size()) resize(want);
    update();
}

void TLabel::Repaint() {
    ApplySize();
    repaint();
}

QSize TLabel::sizeHint() const {
    QFontMetrics fm(font());
    QSize s = fm.size(0, text_);
    return {std::max(s.width(), 1), std::max(s.height(), fm.height())};
}

void TLabel::paintEvent(QPaintEvent*) {
    if (sizeQueued_) ApplySize();
    QPainter p(this);
    p.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    p.setFont(font());
    p.drawText(QRect(QPoint(0, 0), QWidget::size()), Qt::AlignLeft | Qt::AlignTop, text_);
}

void TLabel::changeEvent(QEvent* e) {
    if (e->type() == QEvent::FontChange) ApplySize();
    QWidget::changeEvent(e);
}

TGroupBox::TGroupBox(const QString& title, QWidget* parent) : QGroupBox(title, parent) {}

QFont TGroupBox::CaptionFont() const {
    QFont f = font();
    if (captionPixels_ > 0) f.setPixelSize(captionPixels_);
    return f;
}

void TGroupBox::SetCaptionPixelSize(int pixels) {
    captionPixels_ = pixels;
    update();
}

QRect TGroupBox::CaptionRect() const {
    const QFontMetrics fm(CaptionFont());
    return {8, 0, fm.horizontalAdvance(title()), fm.height()};
}

void TGroupBox::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QRect caption = CaptionRect();
    QStyleOptionFrame frame;
    frame.initFrom(this);
    frame.rect = rect().adjusted(0, caption.height() / 2, 0, 0);
    frame.lineWidth = 1;
    frame.midLineWidth = 0;
    style()->drawPrimitive(QStyle::PE_FrameGroupBox, &frame, &p, this);
    // The caption interrupts the top line.
    p.fillRect(caption.adjusted(-2, 0, 2, 0), palette().color(backgroundRole()));
    p.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    p.setFont(CaptionFont());
    p.drawText(caption, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, title());
}

TStatusBar::TStatusBar(QWidget* parent) : QLabel(parent) {
    InstallControlAccessibility();
    setTextFormat(Qt::PlainText);
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setIndent(4);
}

namespace {

// Painted labels have no text Qt knows of: they tell assistive technology their caption.
class LabelAccessible : public QAccessibleWidget {
public:
    explicit LabelAccessible(TLabel* label) : QAccessibleWidget(label, QAccessible::StaticText) {}
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name && widget()->accessibleName().isEmpty())
            return static_cast<const TLabel*>(widget())->text();
        return QAccessibleWidget::text(t);
    }
};

class StatusBarAccessible : public QAccessibleWidget {
public:
    explicit StatusBarAccessible(TStatusBar* bar) : QAccessibleWidget(bar, QAccessible::StatusBar) {}
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name && widget()->accessibleName().isEmpty())
            return static_cast<const TStatusBar*>(widget())->SimpleText();
        return QAccessibleWidget::text(t);
    }
};

// A picture box (a label without text) is named by its accessible name, else by its hint.
class PictureAccessible : public QAccessibleWidget {
public:
    explicit PictureAccessible(QLabel* box) : QAccessibleWidget(box, QAccessible::Graphic) {}
    QString text(QAccessible::Text t) const override {
        if (t != QAccessible::Name) return QAccessibleWidget::text(t);
        const auto* box = static_cast<const QLabel*>(widget());
        if (!box->accessibleName().isEmpty()) return box->accessibleName();
        if (!box->text().isEmpty()) return box->text();
        return box->toolTip().isEmpty() ? QStringLiteral("画像") : box->toolTip();
    }
};

QAccessibleInterface* ControlAccessible(const QString& className, QObject* object) {
    // The program's windows are plain widgets, which Qt would present as nameless fillers.
    if (className.startsWith(QLatin1String("TForm")) && object->isWidgetType() &&
        static_cast<QWidget*>(object)->isWindow())
        return new QAccessibleWidget(static_cast<QWidget*>(object), QAccessible::Window);
    if (className == QLatin1String("TLabel")) return new LabelAccessible(static_cast<TLabel*>(object));
    if (className == QLatin1String("TStatusBar")) return new StatusBarAccessible(static_cast<TStatusBar*>(object));
    if (className == QLatin1String("QLabel")) {
        auto* label = static_cast<QLabel*>(object);
        if (label->text().isEmpty()) return new PictureAccessible(label);
    }
    return nullptr;  // Qt's own interface
}

// Hints are plain text: a hint that happens to look like markup (a file name with "<b>")
// is shown as written instead of being rendered.
class PlainHints : public QObject {
public:
    using QObject::QObject;
    bool eventFilter(QObject* receiver, QEvent* event) override {
        if (event->type() != QEvent::ToolTip || !receiver->isWidgetType()) return false;
        auto* widget = static_cast<QWidget*>(receiver);
        const QString hint = widget->toolTip();
        if (hint.isEmpty() || !Qt::mightBeRichText(hint)) return false;
        auto* help = static_cast<QHelpEvent*>(event);
        QToolTip::showText(help->globalPos(), Qt::convertFromPlainText(hint, Qt::WhiteSpacePre), widget, QRect(),
                           widget->toolTipDuration());
        return true;
    }
};

void InstallPlainHints() {
    QCoreApplication::instance()->installEventFilter(new PlainHints(QCoreApplication::instance()));
}

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(InstallPlainHints)

void InstallControlAccessibility() {
    // Factories installed last are asked first, so this one has to come after the widgets'
    // own, which the application object installs: the first control created does it.
    static bool installed = false;
    if (installed) return;
    installed = true;
    QAccessible::installFactory(ControlAccessible);
}
