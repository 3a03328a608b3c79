// Files copied from a Japanese Windows machine: Shift-JIS names read in the list, while
// the stored list, the opening and the deleting use their bytes.
#include <gtest/gtest.h>

#include <QImage>

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

}  // namespace
