#include "platform/MessageBoxes.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

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

BoxAnswer QtMessageBoxes::Show(BoxKind kind, const QString& text) {
    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(CaptionFor(kind));
    box.setText(text);
    switch (kind) {
        case BoxKind::Confirmation: box.setIcon(QMessageBox::Question); break;
        case BoxKind::Information: box.setIcon(QMessageBox::Information); break;
        case BoxKind::Error: box.setIcon(QMessageBox::Critical); break;
        case BoxKind::Plain: box.setIcon(QMessageBox::NoIcon); break;
    }
    if (kind == BoxKind::Confirmation) {
        QPushButton* yes = box.addButton(QStringLiteral("はい(&Y)"), QMessageBox::YesRole);
        QPushButton* no = box.addButton(QStringLiteral("いいえ(&N)"), QMessageBox::NoRole);
        box.setDefaultButton(yes);
        box.setEscapeButton(no);
        box.exec();
        return box.clickedButton() == yes ? BoxAnswer::Yes : BoxAnswer::No;
    }
    QPushButton* ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box.setDefaultButton(ok);
    box.setEscapeButton(ok);
    box.exec();
    return BoxAnswer::Ok;
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
