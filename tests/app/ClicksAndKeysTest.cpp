// The check lists as the mouse and the keyboard reach them: every click position of an
// entry with nothing selected yet, and keyboard selection, which activates as a click does.
#include <gtest/gtest.h>

#include <QApplication>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QKeySequence>
#include <QTest>

#include "Fixtures.h"
#include "download/TForm5.h"

namespace {

// Where a click lands on an entry.
enum class Spot { CheckBox, Text, BelowEntries };

class CheckListClickTest : public MainWindowFixture {
protected:
    void SetUp() override {
        MainWindowFixture::SetUp();
        form->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form));
    }

    // The centre of the entry's check box, as the list's own delegate places it.
    static QPoint CheckBoxCentre(QAbstractItemView* view, int row) {
        const QModelIndex idx = view->model()->index(row, 0);
        QStyleOptionViewItem opt;
        opt.initFrom(view->viewport());
        opt.rect = view->visualRect(idx);
        opt.features |= QStyleOptionViewItem::HasCheckIndicator;
        opt.checkState = Qt::Unchecked;
        opt.index = idx;
        return view->style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &opt, view).center();
    }

    QPoint SpotOf(Spot spot, int row) const {
        TCheckListBox* list = form->CheckListBox1;
        const QRect r = list->visualRect(list->model()->index(row, 0));
        switch (spot) {
            case Spot::CheckBox: return CheckBoxCentre(list, row);
            case Spot::Text: return QPoint(r.left() + 80, r.center().y());
            case Spot::BelowEntries: break;
        }
        return QPoint(r.left() + 80, list->viewport()->height() - 3);
    }

    // Paths opened in the media device since the last call.
    std::vector<std::string> TakeOpened() {
        std::vector<std::string> out;
        for (const std::string& c : fakes->media->calls)
            if (c.rfind("open ", 0) == 0) out.push_back(c.substr(5));
        fakes->media->calls.clear();
        return out;
    }

    void Fill() {
        for (const char* name : {"a.mp3", "b.mp3", "c.mp3"}) WriteFile(Path(name), "ID3");
        form->WMDropFiles({Path("a.mp3"), Path("b.mp3"), Path("c.mp3")});
        form->CheckListBox1->Repaint();
    }
};

TEST_F(CheckListClickTest, EveryClickPositionWithNothingSelectedIsQuiet) {
    struct Case {
        const char* name;
        Spot spot;
        bool checks;     // the click sets the entry's check mark
        bool activates;  // the click opens the entry
    };
    const Case cases[] = {
        {"check box", Spot::CheckBox, true, true},
        {"text", Spot::Text, false, true},
        {"empty area below the entries", Spot::BelowEntries, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        form->CheckListBox1->Clear();
        Fill();
        ASSERT_EQ(form->CheckListBox1->ItemIndex(), -1);
        form->Button1->hide();  // a rebuilt list leaves the delete button as it was
        boxes->shown.clear();
        TakeOpened();
        QTest::mouseClick(form->CheckListBox1->viewport(), Qt::LeftButton, Qt::NoModifier, SpotOf(c.spot, 1));
        const std::vector<std::string> opened = TakeOpened();
        EXPECT_TRUE(boxes->TextsOf(platform::BoxKind::Error).empty())
            << boxes->TextsOf(platform::BoxKind::Error).front().toStdString();
        EXPECT_EQ(form->CheckListBox1->Checked(1), c.checks);
        EXPECT_EQ(form->Button1->isVisible(), c.checks);
        EXPECT_EQ(form->CheckListBox1->ItemIndex(), c.activates ? 1 : -1);
        EXPECT_EQ(opened, c.activates ? std::vector<std::string>{Path("b.mp3")} : std::vector<std::string>{});
    }
}

TEST_F(CheckListClickTest, ASecondClickOnTheBoxClearsTheMarkAndHidesDelete) {
    Fill();
    QTest::mouseClick(form->CheckListBox1->viewport(), Qt::LeftButton, Qt::NoModifier, SpotOf(Spot::CheckBox, 2));
    ASSERT_TRUE(form->CheckListBox1->Checked(2));
    QTest::mouseClick(form->CheckListBox1->viewport(), Qt::LeftButton, Qt::NoModifier, SpotOf(Spot::CheckBox, 2));
    EXPECT_FALSE(form->CheckListBox1->Checked(2));
    EXPECT_FALSE(form->Button1->isVisible());
    EXPECT_TRUE(boxes->TextsOf(platform::BoxKind::Error).empty());
}

TEST_F(CheckListClickTest, KeyboardSelectionActivatesAsAClickDoes) {
    Fill();
    WriteFile(Path("d.mp3"), "ID3");
    form->WMDropFiles({Path("d.mp3")});
    form->CheckListBox1->Repaint();
    form->CheckListBox1->setFocus();
    struct Step {
        Qt::Key key;
        int selected;     // the entry selected afterwards
        bool activates;   // a move activates; a key that moves nothing does not
    };
    // With nothing selected the caret stands on the first entry, so the first Down selects
    // the second one, as in a list box.
    const Step steps[] = {
        {Qt::Key_Down, 1, true},  {Qt::Key_Home, 0, true},  {Qt::Key_Down, 1, true},  {Qt::Key_End, 3, true},
        {Qt::Key_Down, 3, false}, {Qt::Key_Home, 0, true},     {Qt::Key_Up, 0, false},
        {Qt::Key_PageDown, 3, true}, {Qt::Key_PageUp, 0, true}, {Qt::Key_Up, 0, false},
    };
    const char* names[] = {"a.mp3", "b.mp3", "c.mp3", "d.mp3"};
    for (const Step& s : steps) {
        SCOPED_TRACE(QKeySequence(s.key).toString().toStdString());
        TakeOpened();
        QTest::keyClick(form->CheckListBox1, s.key);
        EXPECT_EQ(form->CheckListBox1->ItemIndex(), s.selected);
        EXPECT_EQ(TakeOpened(), s.activates ? std::vector<std::string>{Path(names[s.selected])} : std::vector<std::string>{});
        EXPECT_TRUE(form->MediaPlayer1->isVisible());
    }
    EXPECT_TRUE(boxes->TextsOf(platform::BoxKind::Error).empty());
}

TEST_F(CheckListClickTest, SpaceTogglesTheSelectedEntrysMark) {
    Fill();
    form->CheckListBox1->setFocus();
    QTest::keyClick(form->CheckListBox1, Qt::Key_Home);
    QTest::keyClick(form->CheckListBox1, Qt::Key_Down);
    ASSERT_EQ(form->CheckListBox1->ItemIndex(), 1);
    TakeOpened();
    QTest::keyClick(form->CheckListBox1, Qt::Key_Space);
    EXPECT_TRUE(form->CheckListBox1->Checked(1));
    EXPECT_TRUE(form->Button1->isVisible());
    EXPECT_TRUE(TakeOpened().empty());  // the mark only, no second activation
    QTest::keyClick(form->CheckListBox1, Qt::Key_Space);
    EXPECT_FALSE(form->CheckListBox1->Checked(1));
    EXPECT_FALSE(form->Button1->isVisible());
    EXPECT_EQ(form->CheckListBox1->ItemIndex(), 1);
}

TEST_F(CheckListClickTest, KeyboardOnAnEmptyListDoesNothing) {
    form->CheckListBox1->setFocus();
    for (Qt::Key k : {Qt::Key_Down, Qt::Key_Up, Qt::Key_Home, Qt::Key_End, Qt::Key_PageDown, Qt::Key_Space})
        QTest::keyClick(form->CheckListBox1, k);
    EXPECT_EQ(form->CheckListBox1->ItemIndex(), -1);
    EXPECT_TRUE(boxes->shown.empty());
    EXPECT_TRUE(TakeOpened().empty());
}

TEST_F(CheckListClickTest, SongListKeyboardSelectsTogglesAndReportsAsAClick) {
    TSongList* songs = Form5->CheckListBox1;
    for (int i = 0; i < 5; ++i) songs->Add(QStringLiteral("song %1").arg(i));
    Form5->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Form5));
    std::vector<int> clicks;
    QObject::connect(songs, &QAbstractItemView::clicked, songs, [&](const QModelIndex& i) { clicks.push_back(i.row()); });
    songs->setFocus();
    songs->SetItemIndex(2);
    QTest::keyClick(songs, Qt::Key_Home);
    QTest::keyClick(songs, Qt::Key_Down);
    QTest::keyClick(songs, Qt::Key_End);
    QTest::keyClick(songs, Qt::Key_End);  // no move: no click
    EXPECT_EQ(clicks, (std::vector<int>{0, 1, 4}));  // the program's own selection is no click
    QTest::keyClick(songs, Qt::Key_Space);
    EXPECT_TRUE(songs->Checked(4));
    // A click on a song's check box with nothing selected before it sets the mark.
    songs->SetItemIndex(-1);
    songs->clearSelection();
    QTest::mouseClick(songs->viewport(), Qt::LeftButton, Qt::NoModifier, CheckBoxCentre(songs, 2));
    EXPECT_TRUE(songs->Checked(2));
}

}  // namespace
