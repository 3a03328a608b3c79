#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QMimeData>
#include <QUrl>

#include "Fixtures.h"
#include "app/TForm1.h"

namespace {

using platform::BoxAnswer;
using platform::BoxKind;
using V = std::vector<std::string>;

class DropDeleteTest : public MainWindowFixture {
protected:
    // Files f0..f(n-1) in the working folder, listed in the check list.
    void ListFiles(int n) {
        std::vector<std::string> paths;
        for (int i = 0; i < n; ++i) {
            paths.push_back(Path("f" + std::to_string(i)));
            WriteFile(paths.back(), "x");
        }
        form->WMDropFiles(paths);
    }
    void Check(std::initializer_list<int> rows) {
        for (int r : rows) form->CheckListBox1->SetChecked(r, true);
        form->CheckListBox1ClickCheck();
    }
    std::vector<QString> Questions() const { return boxes->TextsOf(BoxKind::Confirmation); }
};

const QString kFirst = QStringLiteral("該当するファイルを削除しますか\r\n\r\n");
const QString kSecond =
    QStringLiteral("下のリストのチェックのついているファイルはすべて消えますが、本当に削除していいですか？\r\n\r\n");

QString AboutFile(const std::string& path) {
    return QStringLiteral("該当する") + QString::fromStdString(path) + QStringLiteral("を削除しますか\r\n\r\n");
}

TEST_F(DropDeleteTest, DroppedItemsJoinInOrderWithTheirWholePath) {
    std::string longPath = "/" + std::string(300, 'd') + "/file.mp3";
    form->WMDropFiles({"/a/1.mp3", "/a/2.wav", longPath});
    EXPECT_EQ(Entries(), (V{"/a/1.mp3", "/a/2.wav", longPath}));
    EXPECT_EQ(form->Label8->text(), QStringLiteral("リスト数3"));
    EXPECT_FALSE(form->CheckListBox1->Checked(0));
    form->WMDropFiles({"/a/1.mp3"});  // duplicates are not filtered
    EXPECT_EQ(form->CheckListBox1->Count(), 4);
}

TEST_F(DropDeleteTest, DropEventCarriesFilesAndFolders) {
    ::mkdir(Path("folder").c_str(), 0755);
    WriteFile(Path("曲 1.mp3"), "x");
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QString::fromStdString(Path("曲 1.mp3"))),
                  QUrl(QStringLiteral("https://example.invalid/remote.mp3")),
                  QUrl::fromLocalFile(QString::fromStdString(Path("folder") + "/"))});
    QDragEnterEvent enter(QPoint(100, 150), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(form, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(100, 150), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(form, &drop);
    EXPECT_EQ(Entries(), (V{Path("曲 1.mp3"), Path("folder")}));
    EXPECT_EQ(form->Label8->text(), QStringLiteral("リスト数2"));
}

TEST_F(DropDeleteTest, NamesThatAreNotUtf8KeepTheirBytesAndAreDeletedForReal) {
    // As a file manager sends them: the name's bytes percent-encoded, whatever they are.
    const std::string bad = Path(std::string("bad\xFF\xFE.mp3"));
    const std::string odd = Path("a<b>&amp; 曲.mp3");
    WriteFile(bad, "x");
    WriteFile(odd, "x");
    QMimeData data;
    data.setData(QStringLiteral("text/uri-list"),
                 QUrl::fromLocalFile(QString::fromStdString(dir)).toEncoded() + "/bad%FF%FE.mp3\r\n" +
                     QUrl::fromLocalFile(QString::fromStdString(odd)).toEncoded() + "\r\n" +
                     "file://localhost" + QUrl::toPercentEncoding(QString::fromStdString(Path("x y")), "/") + "\r\n");
    // A failed run must not leave a name behind that the temporary folder cannot remove.
    struct Unlink {
        std::string path;
        ~Unlink() { ::unlink(path.c_str()); }
    } cleanup{bad};
    QDragEnterEvent enter(QPoint(100, 150), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(form, &enter);
    QDropEvent drop(QPointF(100, 150), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(form, &drop);
    ASSERT_EQ(Entries(), (V{bad, odd, Path("x y")})) << data.data("text/uri-list").toStdString();
    Check({0, 1});
    boxes->answers = {BoxAnswer::Yes, BoxAnswer::Yes, BoxAnswer::Yes, BoxAnswer::Yes};
    form->Button1Click();
    // The question names the file as the list shows it: the undecodable bytes escaped.
    EXPECT_EQ(Questions()[2], AboutFile(Path("bad\\xFF\\xFE.mp3")));
    EXPECT_EQ(Questions()[3], AboutFile(odd));
    EXPECT_FALSE(platform::PathExists(bad));
    EXPECT_FALSE(platform::PathExists(odd));
    EXPECT_EQ(Entries(), V{Path("x y")});
    EXPECT_TRUE(boxes->TextsOf(BoxKind::Error).empty());
}

TEST_F(DropDeleteTest, DeleteButtonFollowsTheMarks) {
    ListFiles(2);
    EXPECT_TRUE(form->Button1->isHidden());
    Check({1});
    EXPECT_FALSE(form->Button1->isHidden());
    form->CheckListBox1->SetChecked(1, false);
    form->CheckListBox1ClickCheck();
    EXPECT_TRUE(form->Button1->isHidden());
    // A user's click on the mark reaches the handler through the model.
    auto* model = form->CheckListBox1->Model();
    model->Publish();
    model->setData(model->index(0, 0), Qt::Checked, Qt::CheckStateRole);
    EXPECT_FALSE(form->Button1->isHidden());
}

TEST_F(DropDeleteTest, DecliningEitherGeneralQuestionDeletesNothing) {
    for (BoxAnswer second : {BoxAnswer::No, BoxAnswer::Yes}) {
        form->CheckListBox1->Clear();
        boxes->shown.clear();
        ListFiles(3);
        Check({0, 2});
        boxes->answers = second == BoxAnswer::No ? std::deque<BoxAnswer>{BoxAnswer::Yes, BoxAnswer::No}
                                                 : std::deque<BoxAnswer>{BoxAnswer::No};
        form->Button1Click();
        EXPECT_EQ(form->CheckListBox1->Count(), 3);
        EXPECT_FALSE(form->CheckListBox1->AnyChecked());
        EXPECT_TRUE(form->Button1->isHidden());
        EXPECT_TRUE(platform::FileExists(Path("f0")));
        EXPECT_EQ(Questions().size(), second == BoxAnswer::No ? 2u : 1u);
        EXPECT_EQ(Questions()[0], kFirst);
    }
}

TEST_F(DropDeleteTest, EachCheckedEntryIsAskedOnceInListOrder) {
    ListFiles(6);
    Check({1, 3, 5});
    boxes->answers = {BoxAnswer::Yes, BoxAnswer::Yes, BoxAnswer::No, BoxAnswer::Yes, BoxAnswer::No};
    form->Button1Click();
    EXPECT_EQ(Questions(), (std::vector<QString>{kFirst, kSecond, AboutFile(Path("f1")),
                                                 AboutFile(Path("f3")), AboutFile(Path("f5"))}));
    EXPECT_TRUE(platform::FileExists(Path("f1")));
    EXPECT_FALSE(platform::FileExists(Path("f3")));
    EXPECT_TRUE(platform::FileExists(Path("f5")));
    EXPECT_EQ(Entries(), (V{Path("f0"), Path("f1"), Path("f2"), Path("f4"), Path("f5")}));
    EXPECT_EQ(form->Label8->text(), QStringLiteral("リスト数5"));
    EXPECT_FALSE(form->CheckListBox1->AnyChecked());
    EXPECT_TRUE(form->Button1->isHidden());
}

TEST_F(DropDeleteTest, UndeletableFileKeepsItsEntryAndSaysWhy) {
    ListFiles(2);
    ::mkdir(Path("folder").c_str(), 0755);
    form->WMDropFiles({Path("folder"), Path("already-gone")});
    Check({0, 2, 3});
    boxes->answers = {BoxAnswer::Yes, BoxAnswer::Yes, BoxAnswer::Yes, BoxAnswer::Yes, BoxAnswer::Yes};
    form->Button1Click();
    // The folder cannot be deleted as a file: its entry stays, unmarked, and the error says so.
    EXPECT_EQ(Entries(), (V{Path("f1"), Path("folder")}));
    EXPECT_FALSE(form->CheckListBox1->AnyChecked());
    auto errors = boxes->TextsOf(BoxKind::Error);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_TRUE(errors[0].contains(QString::fromStdString(Path("folder"))));
    EXPECT_TRUE(errors[0].contains(QStringLiteral("ファイルへのアクセスが拒否されました")));
    EXPECT_EQ(form->Label8->text(), QStringLiteral("リスト数2"));
}

TEST_F(DropDeleteTest, ListChangedWhileAQuestionWaits) {
    ListFiles(3);
    Check({0, 2});
    // A download finishes while the first file question is open; then the list is cleared
    // by a quick search while the next one is open.
    int asked = 0;
    boxes->whileWaiting = [&](const platform::FakeMessageBoxes::Shown& box) {
        if (!box.text.startsWith(QStringLiteral("該当する/"))) return;
        if (++asked == 1) form->WMDropFiles({"/new/song.mp3"});
        if (asked == 2) form->CheckListBox1->Clear();
    };
    boxes->answers = {BoxAnswer::Yes, BoxAnswer::Yes, BoxAnswer::Yes, BoxAnswer::Yes};
    form->Button1Click();
    EXPECT_EQ(asked, 2);
    EXPECT_FALSE(platform::FileExists(Path("f0")));
    EXPECT_FALSE(platform::FileExists(Path("f2")));  // the user said Yes to it
    EXPECT_EQ(form->CheckListBox1->Count(), 0);
    EXPECT_TRUE(form->Button1->isHidden());
}

TEST_F(DropDeleteTest, DroppedNamesThatNameAnotherFileNeverGetDeleted) {
    // A NUL byte cuts a name short for every file function; a URL of another host names
    // a file there, which the same path here is not.
    WriteFile(Path("keep.txt"), "precious");
    ::mkdir(Path("server").c_str(), 0755);
    WriteFile(Path("server") + "/keep.txt", "precious");
    const QByteArray local = QUrl::fromLocalFile(QString::fromStdString(dir)).toEncoded();
    QMimeData data;
    data.setData(QStringLiteral("text/uri-list"), local + "/keep.txt%00.mp3\r\n" + "file://" +
                                                      QUrl::toPercentEncoding(QString::fromStdString(Path("server")), "/")
                                                          .replace(0, 1, "") +
                                                      "/keep.txt\r\n" + local + "/keep.txt\r\n");
    QDragEnterEvent enter(QPoint(100, 150), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(form, &enter);
    QDropEvent drop(QPointF(100, 150), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(form, &drop);
    EXPECT_EQ(Entries(), V{Path("keep.txt")}) << data.data("text/uri-list").toStdString();

    // Such a name reaching the list another way (a stored list edited by hand) names no
    // file: its entry goes like that of a file already gone, the file it begins with stays.
    const std::string cut = Path("keep.txt") + std::string("\0.mp3", 5);
    form->CheckListBox1->Clear();
    form->CheckListBox1->Add(cut);
    Check({0});
    boxes->answers = {BoxAnswer::Yes, BoxAnswer::Yes, BoxAnswer::Yes};
    form->Button1Click();
    // The question names the whole entry as the list shows it, the NUL made visible.
    EXPECT_EQ(Questions().back(), AboutFile(Path("keep.txt") + "\\x00.mp3"));
    EXPECT_EQ(ReadFile(Path("keep.txt")), "precious");
    EXPECT_EQ(form->CheckListBox1->Count(), 0);
}

TEST_F(DropDeleteTest, ALinkIsDeletedNotWhatItPointsTo) {
    WriteFile(Path("target.mp3"), "precious");
    ::mkdir(Path("folder").c_str(), 0755);
    ASSERT_EQ(::symlink(Path("target.mp3").c_str(), Path("link.mp3").c_str()), 0);
    ASSERT_EQ(::symlink(Path("folder").c_str(), Path("folderlink").c_str()), 0);
    form->WMDropFiles({Path("link.mp3"), Path("folderlink")});
    Check({0, 1});
    boxes->answers = {BoxAnswer::Yes, BoxAnswer::Yes, BoxAnswer::Yes, BoxAnswer::Yes};
    form->Button1Click();
    EXPECT_FALSE(platform::PathExists(Path("link.mp3")));
    EXPECT_FALSE(platform::PathExists(Path("folderlink")));
    EXPECT_EQ(ReadFile(Path("target.mp3")), "precious");
    EXPECT_TRUE(platform::PathExists(Path("folder")));
    EXPECT_EQ(form->CheckListBox1->Count(), 0);
}

}  // namespace
