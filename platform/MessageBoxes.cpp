#include "platform/MessageBoxes.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

namespace platform {

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
    auto box = std::make_unique<QMessageBox>(parent);
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

BoxAnswer QtMessageBoxes::Show(BoxKind kind, const QString& text) {
    std::unique_ptr<QMessageBox> box = MakeMessageBox(kind, text, QApplication::activeWindow());
    if (answerAfterMs >= 0) {
        // Owned by the box: it cannot fire after the box is gone.
        QTimer::singleShot(answerAfterMs, box.get(), [this, b = box.get()] {
            if (capture) capture(*b);
            if (!b->isVisible()) return;  // answered already
            if (QAbstractButton* escape = b->escapeButton()) escape->click();
        });
    }
    box->exec();
    if (kind != BoxKind::Confirmation) return BoxAnswer::Ok;
    return box->clickedButton() == box->defaultButton() ? BoxAnswer::Yes : BoxAnswer::No;
}

BoxAnswer FakeMessageBoxes::Show(BoxKind kind, const QString& text) {
    shown.push_back({kind, CaptionFor(kind), text});
    Shown copy = shown.back();
    if (whileWaiting) whileWaiting(copy);
    if (kind != BoxKind::Confirmation) return BoxAnswer::Ok;
    if (answers.empty()) return fallback;
    BoxAnswer a = answers.front();
    answers.pop_front();
    return a;
}

std::vector<QString> FakeMessageBoxes::TextsOf(BoxKind kind) const {
    std::vector<QString> out;
    for (const auto& s : shown)
        if (s.kind == kind) out.push_back(s.text);
    return out;
}

}  // namespace platform
