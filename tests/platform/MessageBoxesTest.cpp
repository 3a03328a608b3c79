// Boxes and hints show their text as written: file names are never read as markup.
#include <gtest/gtest.h>

#include <QApplication>
#include <QHelpEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QToolTip>

#include "Fixtures.h"
#include "platform/MessageBoxes.h"

namespace {

using platform::BoxAnswer;
using platform::BoxKind;

QLabel* TextLabelOf(QMessageBox& box) { return box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label")); }

TEST(MessageBoxes, PathsAndLineBreaksShowAsWritten) {
    const QString question = QStringLiteral("該当する/home/u/<b>x</b> a&lt;b.mp3を削除しますか\r\n\r\n");
    auto box = platform::MakeMessageBox(BoxKind::Confirmation, question);
    QLabel* label = TextLabelOf(*box);
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(box->textFormat(), Qt::PlainText);
    EXPECT_EQ(label->textFormat(), Qt::PlainText);
    EXPECT_EQ(label->text(), QStringLiteral("該当する/home/u/<b>x</b> a&lt;b.mp3を削除しますか\n\n"));
    // The two trailing empty lines take room, as the question was written with them.
    auto bare = platform::MakeMessageBox(BoxKind::Confirmation, QStringLiteral("該当する/home/u/<b>x</b> a&lt;b.mp3を削除しますか"));
    EXPECT_GE(label->sizeHint().height(), TextLabelOf(*bare)->sizeHint().height() + 2 * label->fontMetrics().lineSpacing() - 1);
    EXPECT_EQ(box->windowTitle(), QStringLiteral("確認"));
    QStringList buttons;
    for (QAbstractButton* b : box->buttons()) buttons << b->text();
    buttons.sort();
    EXPECT_EQ(buttons, (QStringList{QStringLiteral("いいえ(&N)"), QStringLiteral("はい(&Y)")}));
}

class HintTest : public MainWindowFixture {
protected:
    QString HintOver(QWidget* w, QPoint at) {
        QToolTip::hideText();
        QHelpEvent help(QEvent::ToolTip, at, w->mapToGlobal(at));
        QApplication::sendEvent(w, &help);
        return QToolTip::text();
    }
};

TEST_F(HintTest, CheckListShowsItsHintOverEntriesAndHintsArePlain) {
    form->show();
    form->WMDropFiles({"/music/<i>song</i>.mp3"});
    form->CheckListBox1->Repaint();
    QWidget* rows = form->CheckListBox1->viewport();
    const QRect first = form->CheckListBox1->visualRect(form->CheckListBox1->model()->index(0, 0));
    ASSERT_TRUE(first.isValid());
    EXPECT_EQ(HintOver(rows, first.center()), QStringLiteral("クリックで確認できます"));
    // A hint that looks like markup is shown as its characters.
    QLabel label(form);
    label.setGeometry(0, 0, 50, 20);
    label.setToolTip(QStringLiteral("<b>a</b>&amp;"));
    label.show();
    const QString shown = HintOver(&label, QPoint(5, 5));
    EXPECT_TRUE(shown.contains(QStringLiteral("&lt;b&gt;a&lt;/b&gt;&amp;amp;"))) << shown.toStdString();
    QToolTip::hideText();
}

}  // namespace
