// What a screen reader reads from the windows: Japanese names for every control a sighted user
// can use, the player's three buttons and no more, and nothing of the holders out of sight.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QCheckBox>
#include <QListWidget>
#include <QProgressBar>
#include <QScrollBar>
#include <functional>

#include "Fixtures.h"
#include "app/TForm3.h"
#include "app/TForm4.h"
#include "download/TForm5.h"

namespace {

QAccessibleInterface* Iface(QObject* o) { return QAccessible::queryAccessibleInterface(o); }
QString NameOf(QObject* o) {
    QAccessibleInterface* i = Iface(o);
    return i ? i->text(QAccessible::Name) : QStringLiteral("<none>");
}

bool HasJapanese(const QString& s) {
    for (QChar c : s)
        if (c.unicode() > 0x2E7F) return true;
    return false;
}

// The children of `i` with the role, depth first.
std::vector<QAccessibleInterface*> Find(QAccessibleInterface* i, QAccessible::Role role) {
    std::vector<QAccessibleInterface*> out;
    std::function<void(QAccessibleInterface*)> walk = [&](QAccessibleInterface* n) {
        for (int c = 0; c < n->childCount(); ++c) {
            QAccessibleInterface* child = n->child(c);
            if (!child) continue;
            if (child->role() == role) out.push_back(child);
            walk(child);
        }
    };
    walk(i);
    return out;
}

class ScreenReaderTest : public MainWindowFixture {};

TEST_F(ScreenReaderTest, ControlsOnceNamelessHaveJapaneseNames) {
    form->show();
    struct Case {
        QObject* object;
        const char* name;
    };
    const Case cases[] = {
        {form->ControlBar1, "ツールバー"},
        {form->MediaPlayer1, "メディアプレーヤー"},
        {form->GroupBox1, "音量"},
        {form->ScrollBar2, "左の音量"},
        {form->ScrollBar1, "右の音量"},
        {form->ScrollBar3, "左右の音量"},
        {Form4->ProgressBar1, "検索の進み具合"},
        {Form3->ListBox1, "ヘルプ"},
        {Form3->ListBox1->verticalScrollBar(), "ヘルプの縦スクロールバー"},
        {Form5->Memo1->verticalScrollBar(), "館長からの一言の縦スクロールバー"},
        {Form5->CheckListBox1->verticalScrollBar(), "演奏リストの縦スクロールバー"},
        {form->CheckListBox1->verticalScrollBar(), "リストの縦スクロールバー"},
    };
    for (const Case& c : cases) EXPECT_EQ(NameOf(c.object), QString::fromUtf8(c.name)) << c.name;
    // A combo box reads out its text as its name; its edit field is named by its purpose,
    // which the box carries as its description.
    const Case boxes[] = {{form->ComboBox2, "検索ファイル"}, {form->ComboBox3, "自動検索を始めるまでの時間"}};
    for (const Case& c : boxes) {
        const auto edits = Find(Iface(c.object), QAccessible::EditableText);
        ASSERT_EQ(edits.size(), 1u) << c.name;
        EXPECT_EQ(edits.front()->text(QAccessible::Name), QString::fromUtf8(c.name));
        EXPECT_EQ(Iface(c.object)->text(QAccessible::Description), QString::fromUtf8(c.name));
    }
}

TEST_F(ScreenReaderTest, PlayerOffersOnlyItsShownButtonsByJapaneseNames) {
    form->show();
    form->MediaPlayer1->show();
    QAccessibleInterface* player = Iface(form->MediaPlayer1);
    EXPECT_EQ(player->role(), QAccessible::ToolBar);
    struct Step {
        std::initializer_list<TMediaPlayer::Button> shown;
        std::vector<const char*> names;
    };
    const Step steps[] = {
        {{TMediaPlayer::btPlay, TMediaPlayer::btPause, TMediaPlayer::btStop}, {"再生", "一時停止", "停止"}},
        {{TMediaPlayer::btStop}, {"停止"}},
        {{TMediaPlayer::btPlay, TMediaPlayer::btEject}, {"再生", "取り出し"}},
        {{TMediaPlayer::btPlay, TMediaPlayer::btPause, TMediaPlayer::btStop}, {"再生", "一時停止", "停止"}},
    };
    for (const Step& s : steps) {
        form->MediaPlayer1->SetVisibleButtons(s.shown);
        ASSERT_EQ(player->childCount(), static_cast<int>(s.names.size()));
        for (int i = 0; i < player->childCount(); ++i) {
            QAccessibleInterface* b = player->child(i);
            EXPECT_EQ(b->role(), QAccessible::Button);
            EXPECT_EQ(b->text(QAccessible::Name), QString::fromUtf8(s.names[static_cast<size_t>(i)]));
            EXPECT_FALSE(b->state().invisible);
            EXPECT_EQ(player->indexOfChild(b), i);
            EXPECT_EQ(b->parent()->object(), form->MediaPlayer1);
        }
        EXPECT_EQ(player->child(player->childCount()), nullptr);
    }
}

TEST_F(ScreenReaderTest, HoldersOutOfSightAreInvisibleToAssistiveTechnology) {
    form->show();
    const std::vector<QWidget*> holders = {form->ListBox6, form->ListBox7,  form->ListBox8, form->DriveComboBox3,
                                           form->Label5,   form->Label21,   form->CheckBox5, form->Button4,
                                           form->Button5,  form->ComboBox1};
    for (QWidget* w : holders) {
        SCOPED_TRACE(w->metaObject()->className());
        EXPECT_TRUE(Iface(w)->state().invisible);
        EXPECT_FALSE(w->isVisible());
    }
    // They still hold what other handlers keep in them.
    EXPECT_TRUE(form->CheckBox5->isChecked());
    EXPECT_EQ(form->Label5->text(), QStringLiteral("まもなくスタートします"));
}

TEST_F(ScreenReaderTest, ScopeBoxHoldsItsItemsOutOfSight) {
    QComboBox* box = form->ComboBox1;
    ASSERT_EQ(box->count(), 2);
    EXPECT_EQ(box->itemText(0), QStringLiteral("すべて検索する"));
    EXPECT_EQ(box->itemText(1), QStringLiteral("右の数に限定する"));
    EXPECT_EQ(box->currentIndex(), 1);
    EXPECT_GE(box->y(), 312);
    EXPECT_EQ(box->focusPolicy(), Qt::NoFocus);
}

// Every window as a user meets it: each control that shows has a Japanese name, or a Latin
// caption with a Japanese hint beside it.
TEST_F(ScreenReaderTest, EveryShownControlOfEveryWindowHasAJapaneseName) {
    const QSet<QAccessible::Role> controls = {QAccessible::PushButton, QAccessible::CheckBox,  QAccessible::ComboBox,
                                              QAccessible::EditableText, QAccessible::List,   QAccessible::ScrollBar,
                                              QAccessible::Slider,      QAccessible::ProgressBar, QAccessible::ToolBar,
                                              QAccessible::Button,      QAccessible::Grouping};
    form->WMDropFiles({"/a/1.mp3"});
    form->MediaPlayer1->show();
    form->GroupBox1->show();
    Form5->CheckListBox1->Add(QStringLiteral("song"));
    for (int i = 0; i < 3; ++i) Form5->AddMemoLine(QStringLiteral("一言"));
    std::vector<QString> faults;
    for (QWidget* window : std::initializer_list<QWidget*>{form, Form3, Form4, Form5}) {
        window->show();
        std::function<void(QAccessibleInterface*, QString)> walk = [&](QAccessibleInterface* n, QString path) {
            if (n->state().invisible) return;
            const QString name = n->text(QAccessible::Name);
            const QString where = path + QLatin1Char('/') + name;
            if (controls.contains(n->role()) && !HasJapanese(name) && !HasJapanese(n->text(QAccessible::Description)))
                faults.push_back(where + QStringLiteral(" role ") + QString::number(int(n->role()), 16));
            if (n->role() == QAccessible::List) return;  // entries are content, not controls
            for (int c = 0; c < n->childCount(); ++c)
                if (QAccessibleInterface* child = n->child(c)) walk(child, where);
        };
        walk(Iface(window), QString());
        window->hide();
    }
    EXPECT_TRUE(faults.empty()) << faults.front().toStdString() << " and " << faults.size() - 1 << " more";
}

}  // namespace
