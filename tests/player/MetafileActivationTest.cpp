// Metafiles as the user meets them: thumbnail and viewer of a Japanese-text WMF and a clipped
// EMF, and a metafile bitmap bomb that ends in the error box with the window still answering.
#include <gtest/gtest.h>

#include <QImage>
#include <filesystem>

#include "Fixtures.h"
#include "platform/Guard.h"
#include "support/MetafileMaker.h"
#include "player/TForm6.h"

namespace {

class MetafileActivationTest : public MainWindowFixture {
protected:
    std::string Write(const std::string& name, const std::string& bytes) {
        const std::string p = Path(name);
        WriteFile(p, bytes);
        return p;
    }
    void Activate(const std::string& path) {
        form->CheckListBox1->Clear();
        form->CheckListBox1->Add(path);
        form->CheckListBox1->SetItemIndex(0);
        form->CheckListBox1Click();
    }
    static int Dark(const QImage& img) {
        int n = 0;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x) n += img.pixelColor(x, y).lightness() < 80;
        return n;
    }
};

TEST_F(MetafileActivationTest, ThumbnailAndViewerShowTextAndClippingAndABombIsAnErrorBox) {
    form->show();
    metafilemaker::Emf clipped(200, 100);
    clipped.Brush(1, 0x00FF0000).Select(1).IntersectClip(0, 0, 100, 100).Rectangle(0, 0, 200, 100);
    const std::string emf = Write("clip.emf", clipped.Build());
    Activate(emf);
    ASSERT_FALSE(form->Image1->pixmap().isNull());
    const QImage thumb = form->Image1->pixmap().toImage();
    EXPECT_EQ(thumb.pixelColor(thumb.width() / 4, thumb.height() / 2), QColor(Qt::blue));
    EXPECT_NE(thumb.pixelColor(thumb.width() * 3 / 4, thumb.height() / 2), QColor(Qt::blue));

    metafilemaker::Wmf japanese(300, 100);
    japanese.Brush(0x00FFFFFF).Select(0).Rectangle(0, 0, 300, 100);
    japanese.Font(-60, 128, "\x82\x6c\x82\x72 \x83\x53\x83\x56\x83\x62\x83\x4e").Select(1).TextColour(0).Transparent();
    japanese.TextOut(10, 20, "\x93\xfa\x96\x7b\x8c\xea");  // 日本語
    const std::string wmf = Write("\x93\xfa\x96\x7b.wmf", japanese.Build());
    Activate(wmf);
    const QImage text = form->Image1->pixmap().toImage();
    EXPECT_GT(Dark(text), 20);
    form->Image1DblClick();
    ASSERT_TRUE(Form6->isVisible());
    EXPECT_GT(Dark(Form6->Image1->grab().toImage()), 500);
    Form6->hide();

    // A 1 KB file claiming a 65535 x 65535 bitmap: the error box names it at once; the last
    // good picture stays, and the next one opens.
    metafilemaker::Wmf bomb(200, 100);
    bomb.StretchDib(0, 0, 200, 100, metafilemaker::RleBomb(65535, 65535), 65535, 65535);
    const std::string bad = Write("bomb.wmf", bomb.Build());
    platform::Guarded([&] { Activate(bad); });
    ASSERT_EQ(boxes->TextsOf(platform::BoxKind::Error).size(), 1u);
    EXPECT_TRUE(boxes->TextsOf(platform::BoxKind::Error)[0].contains(QString::fromStdString(bad)));
    EXPECT_EQ(form->Image1->pixmap().toImage(), text);
    Activate(emf);
    EXPECT_EQ(form->Image1->pixmap().toImage().pixelColor(thumb.width() / 4, thumb.height() / 2), QColor(Qt::blue));
    std::filesystem::remove(wmf);  // the temporary folder cannot name it
}

}  // namespace
