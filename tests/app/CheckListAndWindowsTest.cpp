#include <gtest/gtest.h>

#include <QApplication>

#include "Fixtures.h"
#include "app/CheckListBox.h"
#include "app/Forms.h"
#include "app/TForm1.h"
#include "app/TForm3.h"
#include "app/TForm4.h"
#include "download/TForm5.h"
#include "player/TForm6.h"
#include "platform/Exceptions.h"

namespace {

class CheckListTest : public PlatformFixture {};

TEST_F(CheckListTest, OperationsKeepTextsAndMarksApart) {
    TCheckListBox list;
    for (int i = 0; i < 10; ++i) list.Add("/p/" + std::to_string(i));
    EXPECT_EQ(list.Count(), 10);  // counted at once, before the view hears of the rows
    list.SetChecked(3, true);
    list.SetChecked(7, true);
    // Overwrite many times: old texts are dropped from the arena without mixing entries up.
    for (int round = 0; round < 200; ++round) list.SetText(5, std::string(100, 'a' + round % 26));
    list.Delete(3);
    EXPECT_EQ(list.Count(), 9);
    EXPECT_EQ(list.Text(2), "/p/2");
    EXPECT_EQ(list.Text(3), "/p/4");
    EXPECT_EQ(list.Text(4), std::string(100, 'a' + 199 % 26));
    EXPECT_TRUE(list.Checked(6));  // was entry 7
    EXPECT_TRUE(list.AnyChecked());
    list.SetChecked(6, false);
    EXPECT_FALSE(list.AnyChecked());
    EXPECT_THROW(list.Text(9), Exception);
    EXPECT_THROW(list.Delete(-1), Exception);
    // Binary names that are not UTF-8 are kept byte for byte.
    list.Add(std::string("/p/\x82\xa0\xff", 6));
    EXPECT_EQ(list.Text(9), std::string("/p/\x82\xa0\xff", 6));
}

TEST_F(CheckListTest, ViewSeesAppendedRowsAndSelection) {
    TCheckListBox list;
    list.resize(400, 200);
    list.show();
    for (int i = 0; i < 1000; ++i) list.Add("/x/" + std::to_string(i));
    QCoreApplication::processEvents();
    EXPECT_EQ(list.model()->rowCount(), 1000);
    EXPECT_EQ(list.model()->data(list.model()->index(999, 0), Qt::DisplayRole).toString(), QStringLiteral("/x/999"));
    EXPECT_EQ(list.ItemIndex(), -1);
    list.SetItemIndex(500);
    EXPECT_EQ(list.ItemIndex(), 500);
    list.Delete(500);  // deleting the selected entry removes it like any other
    EXPECT_EQ(list.Text(500), "/x/501");
    list.Add("/x/late");
    list.SetItemIndex(list.Count() - 1);  // an entry the view has not been told about yet
    EXPECT_EQ(list.ItemIndex(), 999);
    list.SetItemIndex(-1);
    EXPECT_EQ(list.ItemIndex(), -1);
    list.Clear();
    EXPECT_EQ(list.model()->rowCount(), 0);
    EXPECT_EQ(list.ItemIndex(), -1);
}

TEST_F(CheckListTest, WindowsAreCreatedOnceWithTheirCaptionsAndOnlyTheMainOneShows) {
    {
        ApplicationWindows windows;
        ASSERT_TRUE(Form1 && Form3 && Form4 && Form5 && Form6);
        EXPECT_EQ(Form4->windowTitle(), QStringLiteral("しばらくお待ちください"));
        EXPECT_EQ(Form6->windowTitle(), QStringLiteral("画像確認ウインドウ"));
        EXPECT_EQ(Form3->windowTitle(), QStringLiteral("ヘルプ"));
        EXPECT_EQ(Form5->windowTitle(), QStringLiteral("DOWN LOAD LISTS"));
        Form1->show();
        for (QWidget* w : std::initializer_list<QWidget*>{Form3, Form4, Form5, Form6}) EXPECT_FALSE(w->isVisible());
        Form1->SpeedButton6->click();
        Form1->SpeedButton6->click();
        EXPECT_TRUE(Form3->isVisible());
        EXPECT_TRUE(Form1->isVisible());  // not modal: the main window stays usable
        int helpWindows = 0;
        for (QWidget* w : QApplication::topLevelWidgets())
            helpWindows += w->isVisible() && w->windowTitle() == QStringLiteral("ヘルプ");
        EXPECT_EQ(helpWindows, 1);
    }
    EXPECT_EQ(Form1, nullptr);
    EXPECT_EQ(Form3, nullptr);
}

}  // namespace
