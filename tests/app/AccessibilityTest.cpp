// What assistive technology reads from the main window, and where the keyboard focus goes.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <functional>

#include "Fixtures.h"
#include "app/TForm3.h"
#include "app/TForm4.h"
#include "download/TForm5.h"
#include "player/TForm6.h"

namespace {

class AccessibilityTest : public MainWindowFixture {
protected:
    static QAccessibleInterface* Iface(QObject* o) { return QAccessible::queryAccessibleInterface(o); }
    static QString NameOf(QObject* o) {
        QAccessibleInterface* i = Iface(o);
        return i ? i->text(QAccessible::Name) : QStringLiteral("<none>");
    }
};

TEST_F(AccessibilityTest, PaintedLabelsAndStatusBarTellTheirCurrentText) {
    form->show();
    EXPECT_EQ(NameOf(form->Label11), QStringLiteral("*  "));
    EXPECT_EQ(NameOf(form->Label8), QStringLiteral("　　　　　"));
    EXPECT_EQ(NameOf(form->Label2), form->Label2->text());
    EXPECT_EQ(Iface(form->Label10)->role(), QAccessible::StaticText);
    form->WMDropFiles({"/a/1.mp3", "/a/2.mp3"});
    form->Label9->setText(QStringLiteral("残り42.5%"));
    form->Label10->setText(QStringLiteral("MP3"));
    form->StatusBar1->SetSimpleText(QStringLiteral("接続しました"));
    EXPECT_EQ(NameOf(form->Label8), QStringLiteral("リスト数2"));
    EXPECT_EQ(NameOf(form->Label9), QStringLiteral("残り42.5%"));
    EXPECT_EQ(NameOf(form->Label10), QStringLiteral("MP3"));
    EXPECT_EQ(Iface(form->StatusBar1)->role(), QAccessible::StatusBar);
    EXPECT_EQ(NameOf(form->StatusBar1), QStringLiteral("接続しました"));
    // The picture box has no text: its hint names it.
    EXPECT_EQ(Iface(form->Image1)->role(), QAccessible::Graphic);
    EXPECT_EQ(NameOf(form->Image1), QStringLiteral("ダブルクリックで大きくなります"));
    // The icon-only search button is named by its hint, the others by their captions.
    EXPECT_EQ(NameOf(form->SpeedButton1), QStringLiteral("再検索をします"));
    EXPECT_EQ(NameOf(form->SpeedButton2), QStringLiteral("Q"));
}

TEST_F(AccessibilityTest, WindowsAreWindowsNamedByTheirCaption) {
    for (QWidget* w : std::initializer_list<QWidget*>{Form1, Form3, Form4, Form5, Form6}) {
        EXPECT_EQ(Iface(w)->role(), QAccessible::Window) << w->metaObject()->className();
        EXPECT_EQ(NameOf(w), w->windowTitle());
    }
}

TEST_F(AccessibilityTest, CheckListEntriesTellTheirTextAndMark) {
    form->show();
    form->WMDropFiles({"/a/1.mp3", std::string("/a/bad\xFF.mp3"), "/a/3.mp3"});
    form->CheckListBox1->SetChecked(1, true);
    form->CheckListBox1->Repaint();
    QAccessibleInterface* list = Iface(form->CheckListBox1);
    ASSERT_EQ(list->childCount(), 3);
    EXPECT_EQ(list->child(0)->text(QAccessible::Name), QStringLiteral("/a/1.mp3"));
    // A byte that is neither UTF-8 nor Shift-JIS reads as its escape; the entry keeps it.
    EXPECT_EQ(list->child(1)->text(QAccessible::Name), QStringLiteral("/a/bad\\xFF.mp3"));
    EXPECT_EQ(form->CheckListBox1->Text(1), std::string("/a/bad\xFF.mp3"));
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(list->child(i)->state().checkable);
        EXPECT_EQ(bool(list->child(i)->state().checked), i == 1) << i;
    }
    form->CheckListBox1->SetChecked(1, false);
    form->CheckListBox1->SetChecked(2, true);
    EXPECT_FALSE(list->child(1)->state().checked);
    EXPECT_TRUE(list->child(2)->state().checked);
}

TEST_F(AccessibilityTest, NoVisibleControlIsANamelessFiller) {
    form->show();
    form->WMDropFiles({"/a/1.mp3"});
    form->CheckListBox1->Repaint();
    std::vector<QString> nameless;
    std::function<void(QAccessibleInterface*, QString)> walk = [&](QAccessibleInterface* i, QString path) {
        for (int c = 0; c < i->childCount(); ++c) {
            QAccessibleInterface* child = i->child(c);
            if (!child || child->state().invisible) continue;
            QString where = path + QLatin1Char('/') + QString::number(int(child->role()), 16);
            const QRect box = child->rect();
            const bool inView = box.intersects(QRect(form->mapToGlobal(QPoint(0, 0)), form->size()));
            // A control the user can see has a role of its own and, unless it is an empty
            // label or the edit inside a combo box, a name.
            if (inView && (child->role() == QAccessible::Client || child->role() == QAccessible::NoRole))
                nameless.push_back(where + QStringLiteral(" generic"));
            const bool mayBeEmpty = child->role() == QAccessible::StaticText || child->role() == QAccessible::StatusBar ||
                                    child->role() == QAccessible::EditableText || child->role() == QAccessible::Border ||
                                    child->role() == QAccessible::ScrollBar || child->role() == QAccessible::Grouping;
            if (inView && !mayBeEmpty && child->text(QAccessible::Name).isEmpty()) nameless.push_back(where);
            walk(child, where);
        }
    };
    walk(Iface(form), QString());
    EXPECT_TRUE(nameless.empty()) << nameless.front().toStdString();
}

TEST_F(AccessibilityTest, TabWalksTheVisibleControlsInScreenOrder) {
    form->show();
    QApplication::setActiveWindow(form);
    form->SpeedButton1->setFocus(Qt::TabFocusReason);
    ASSERT_EQ(QApplication::focusWidget(), form->SpeedButton1);
    std::vector<QWidget*> seen;
    for (int i = 0; i < 30; ++i) {
        QWidget* w = QApplication::focusWidget();
        if (!seen.empty() && w == seen.front()) break;
        seen.push_back(w);
        QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
        QApplication::sendEvent(w, &tab);
    }
    auto focusOf = [](QWidget* w) { return w->focusProxy() ? w->focusProxy() : w; };
    const std::vector<QWidget*> want = {form->SpeedButton1, form->SpeedButton2, form->SpeedButton3,
                                        form->SpeedButton4, form->SpeedButton5, form->Button2,
                                        form->SpeedButton6, focusOf(form->ComboBox2), form->CheckBox2,
                                        form->CheckListBox1};
    std::vector<QWidget*> got;
    for (QWidget* w : seen) got.push_back(w == form->ComboBox2 ? focusOf(w) : w);
    EXPECT_EQ(got, want);
}

TEST_F(AccessibilityTest, ExtensionBoxShowsEveryPatternWhole) {
    form->show();
    QLineEdit* edit = form->ComboBox2->lineEdit();
    ASSERT_EQ(form->ComboBox2->width(), 62);
    for (int i = 0; i < 15; ++i) {
        const QString pattern = form->ComboBox2->itemText(i);
        edit->setText(pattern);
        // With the caret at the end a text too long for the box scrolls its start out of
        // sight; with the caret at the start it does not. Both look the same only if it fits.
        edit->setCursorPosition(int(pattern.size()));
        const QImage atEnd = edit->grab().toImage();
        edit->setCursorPosition(0);
        const QImage atStart = edit->grab().toImage();
        EXPECT_TRUE(atEnd == atStart) << pattern.toStdString();
    }
}

}  // namespace
