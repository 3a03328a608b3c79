// Files copied from a Japanese Windows machine: Shift-JIS names read in the list, while
// the stored list, the opening and the deleting use their bytes.
#include <gtest/gtest.h>

#include <QImage>
#include <sys/stat.h>
#include <unistd.h>

#include "SearchFixture.h"
#include "app/CheckListBox.h"

namespace {

using V = std::vector<std::string>;

class ShiftJisNamesTest : public SearchFixture {
protected:
    QString Shown(int row) const {
        auto* model = form->CheckListBox1->model();
        return model->data(model->index(row, 0), Qt::DisplayRole).toString();
    }
    void Bmp(const std::string& path, QColor colour) {
        QImage img(8, 6, QImage::Format_RGB32);
        img.fill(colour);
        ASSERT_TRUE(img.save(QStringLiteral("%1/made.bmp").arg(QString::fromStdString(dir)), "BMP"));
        ASSERT_EQ(std::rename((dir + "/made.bmp").c_str(), path.c_str()), 0);
    }
};

TEST_F(ShiftJisNamesTest, ShownDecodedOrEscapedStoredAndOpenedByTheirBytes) {
    const std::string d = AddDrive("D");
    const std::string sjis = d + "\x89\xe6\x91\x9c.BMP";  // 画像
    const std::string invalid = d + "bad\xff.BMP";
    const std::string plain = d + "plain.BMP";
    Bmp(sjis, Qt::red);
    Bmp(invalid, Qt::blue);
    Bmp(plain, Qt::green);
    form->IdleSearchActive = 1;
    SetBox("*.BMP");
    form->SpeedButton1Click();
    form->CheckListBox1->Repaint();

    V got = Entries();
    std::sort(got.begin(), got.end());
    V want{sjis, invalid, plain};
    std::sort(want.begin(), want.end());
    ASSERT_EQ(got, want);
    // The stored list keeps the bytes, not the text shown.
    const std::string stored = ReadFile(Path("SearchView.BMP"));
    EXPECT_NE(stored.find(sjis + "\r\n"), std::string::npos);
    EXPECT_NE(stored.find(invalid + "\r\n"), std::string::npos);

    const struct {
        std::string path;
        QString shown;
        QColor colour;
    } rows[] = {
        {sjis, QString::fromStdString(d) + QStringLiteral("画像.BMP"), Qt::red},
        {invalid, QString::fromStdString(d) + QStringLiteral("bad\\xFF.BMP"), Qt::blue},
        {plain, QString::fromStdString(d) + QStringLiteral("plain.BMP"), Qt::green},
    };
    for (const auto& r : rows) {
        const V entries = Entries();
        const int row = static_cast<int>(std::find(entries.begin(), entries.end(), r.path) - entries.begin());
        ASSERT_LT(row, form->CheckListBox1->Count());
        EXPECT_EQ(Shown(row), r.shown);
        // A click opens the file under its bytes: the thumbnail shows its colour.
        form->Image1->clear();
        form->CheckListBox1->SetItemIndex(row);
        form->CheckListBox1Click();
        ASSERT_FALSE(form->Image1->pixmap().isNull()) << r.path;
        EXPECT_EQ(form->Image1->pixmap().toImage().pixelColor(2, 2), r.colour) << r.path;
    }
    EXPECT_TRUE(boxes->TextsOf(platform::BoxKind::Error).empty());
}

TEST_F(ShiftJisNamesTest, ANameThatIsGoneFailsToOpenWhateverItShows) {
    // Failure twin: the entry's bytes name no file (the file was renamed to its decoded,
    // UTF-8 name): the decoded text on screen does not open it.
    const std::string d = AddDrive("D");
    const std::string sjis = d + "\x89\xe6\x91\x9c.BMP";
    Bmp(d + "画像.BMP", Qt::red);
    form->CheckListBox1->Add(sjis);
    form->CheckListBox1->Repaint();
    EXPECT_EQ(Shown(0), QString::fromStdString(d) + QStringLiteral("画像.BMP"));
    form->CheckListBox1->SetItemIndex(0);
    form->CheckListBox1Click();
    EXPECT_TRUE(form->Image1->pixmap().isNull());
}

// The boxes name a file as the list shows it: a Shift-JIS name decoded, an invalid one with
// its bytes escaped, never as replacement characters the user cannot tell apart.
TEST_F(ShiftJisNamesTest, DeleteQuestionsNameTheFileAsTheListShowsIt) {
    const std::string sjis = Path("\x83\x73\x83\x41\x83\x6d\x8b\xc8.mp3");  // ピアノ曲
    const std::string invalid = Path("bad\xFF\xFE" "copy.mp3");
    WriteFile(sjis, "x");
    WriteFile(invalid, "x");
    struct Unlink {
        std::vector<std::string> paths;
        ~Unlink() {
            for (const auto& p : paths)
                if (::unlink(p.c_str()) != 0) ::rmdir(p.c_str());
        }
    } cleanup{{sjis, invalid}};
    form->WMDropFiles({sjis, invalid});
    form->CheckListBox1->SetChecked(0, true);
    form->CheckListBox1->SetChecked(1, true);
    form->CheckListBox1->Repaint();
    const QString shownSjis = QString::fromStdString(dir) + QStringLiteral("/ピアノ曲.mp3");
    const QString shownInvalid = QString::fromStdString(dir) + QStringLiteral("/bad\\xFF\\xFEcopy.mp3");
    EXPECT_EQ(Shown(0), shownSjis);
    EXPECT_EQ(Shown(1), shownInvalid);
    // いいえ to the Shift-JIS file, はい to the invalid one.
    boxes->answers = {platform::BoxAnswer::Yes, platform::BoxAnswer::Yes, platform::BoxAnswer::No,
                      platform::BoxAnswer::Yes};
    form->Button1Click();
    const auto questions = boxes->TextsOf(platform::BoxKind::Confirmation);
    ASSERT_EQ(questions.size(), 4u);
    EXPECT_EQ(questions[2], QStringLiteral("該当する") + shownSjis + QStringLiteral("を削除しますか\r\n\r\n"));
    EXPECT_EQ(questions[3], QStringLiteral("該当する") + shownInvalid + QStringLiteral("を削除しますか\r\n\r\n"));
    for (const QString& q : questions) EXPECT_FALSE(q.contains(QChar(0xFFFD))) << q.toStdString();
    // Each answer went to the file it named, by its bytes.
    EXPECT_TRUE(platform::FileExists(sjis));
    EXPECT_FALSE(platform::PathExists(invalid));
    EXPECT_EQ(Entries(), V{sjis});

    // A file that cannot be deleted is named the same way in the failure box.
    const std::string folder = Path("\x89\xe6\x91\x9c");  // 画像, a folder where a file was listed
    ::mkdir(folder.c_str(), 0755);
    cleanup.paths.push_back(folder + "/inner");
    cleanup.paths.push_back(folder);
    WriteFile(folder + "/inner", "x");
    form->WMDropFiles({folder});
    form->CheckListBox1->SetChecked(1, true);
    boxes->shown.clear();
    boxes->answers = {platform::BoxAnswer::Yes, platform::BoxAnswer::Yes, platform::BoxAnswer::Yes};
    form->Button1Click();
    const auto errors = boxes->TextsOf(platform::BoxKind::Error);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_TRUE(errors[0].contains(QString::fromStdString(dir) + QStringLiteral("/画像"))) << errors[0].toStdString();
}

// A keyword matches what the list shows as well as the bytes: "ピアノ" finds the Shift-JIS
// name in a stored list and on screen; a keyword found in neither still finds nothing.
TEST_F(ShiftJisNamesTest, KeywordFindsAShiftJisNameByItsShownText) {
    const std::string sjis = "/m/\x83\x73\x83\x41\x83\x6d\x8b\xc8.mp3";  // ピアノ曲.mp3
    const std::string invalid = "/m/bad\xFF\xFE" "copy.mp3";
    const std::string utf8 = "/m/ピアノ協奏曲.mp3";
    const std::string other = "/m/violin.mp3";
    // On screen, with no stored list for the keyword.
    form->WMDropFiles({sjis, invalid, utf8, other});
    SetBox("ピアノ");
    form->SpeedButton2Click();
    EXPECT_EQ(Entries(), (V{sjis, utf8}));
    EXPECT_TRUE(boxes->shown.empty());
    // The escaped form is what the user reads, so it is what the keyword may name.
    form->CheckListBox1->Clear();
    form->WMDropFiles({sjis, invalid, other});
    SetBox("\\XFF");
    form->SpeedButton2Click();
    EXPECT_EQ(Entries(), V{invalid});

    // A stored list keeps the bytes; the keyword "ピアノ曲.mp3" selects by the shown text.
    WriteFile(Path("SearchView.MP3"), sjis + "\r\n" + invalid + "\r\n" + other + "\r\n");
    SetBox("ピアノ曲.MP3");
    form->SpeedButton2Click();
    EXPECT_EQ(Entries(), V{sjis});
    EXPECT_TRUE(boxes->shown.empty());
    EXPECT_EQ(ReadFile(Path("SearchView.MP3")), sjis + "\r\n" + invalid + "\r\n" + other + "\r\n");

    // Failure twin: a keyword in neither form blanks the list and offers the full search.
    form->WMDropFiles({other});
    SetBox("チェロ");
    boxes->answers = {platform::BoxAnswer::No};
    form->SpeedButton2Click();
    EXPECT_EQ(Entries(), (V{"　　　　　", "　　　　　"}));
    EXPECT_EQ(boxes->TextsOf(platform::BoxKind::Confirmation).size(), 1u);
    boxes->shown.clear();
    SetBox("チェロ.mp3");
    form->SpeedButton2Click();
    EXPECT_EQ(form->CheckListBox1->Count(), 0);
    EXPECT_EQ(boxes->TextsOf(platform::BoxKind::Confirmation),
              std::vector<QString>{QStringLiteral("該当するファイルはありませんでした\r\n再検索をしてみますか（Y/N)?\r\n")});
}

}  // namespace
