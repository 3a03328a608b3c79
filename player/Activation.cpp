// Item activation: what a click on an entry of the check list does.
#include <QCheckBox>
#include <QPixmap>
#include <QPointer>
#include <optional>

#include "app/Forms.h"
#include "app/TForm1.h"
#include "platform/DepthScope.h"
#include "platform/Files.h"
#include "pictures/PictureHelper.h"
#include "pictures/Pictures.h"
#include "platform/Services.h"
#include "player/Playback.h"
#include "player/TForm6.h"

namespace {

constexpr int kShowNormal = 5;  // SW_SHOW

// Counts activations, so that a picture that arrives after a later click has shown
// something else is dropped instead of covering it.
unsigned activationCount = 0;

// The picture, decoded in the helper while the window goes on answering; with a thumbnail
// size, perhaps reduced to it. Empty when the window went away, another activation began or
// `stillWanted` says no more meanwhile.
std::optional<platform::Thumbnail> LoadWhileAnswering(TForm1* form, const std::string& path, QSize thumbnail = QSize(),
                                                      const std::function<bool()>& stillWanted = nullptr) {
    const unsigned mine = ++activationCount;
    QPointer<TForm1> alive(form);
    // Given up as soon as another activation begins: its picture is the one to show.
    const auto wanted = [&] { return alive && mine == activationCount && (!stillWanted || stillWanted()); };
    try {
        platform::Thumbnail picture = platform::LoadThumbnailContained(path, thumbnail, wanted);
        if (!wanted()) return std::nullopt;
        return picture;
    } catch (const EInvalidGraphic&) {
        // Only the picture the user still waits for gets its error box.
        if (!wanted()) return std::nullopt;
        throw;
    }
}

void ShowInViewer(const platform::Picture& picture, const std::string& reducedFrom = {}) {
    if (!Form6) return;
    Form6->ShowPicture(picture, reducedFrom);
    Form6->Image1->repaint();
    Form6->repaint();
}

}  // namespace

unsigned player::ActivationCount() { return activationCount; }

void TForm1::CheckListBox1Click() {
    if (!CheckBox5->isChecked()) return;
    StatusBar1->SetSimpleText(QString());
    std::string path = CheckListBox1->Text(CheckListBox1->ItemIndex());
    if (!platform::FileExists(path)) return;
    if (player::IsStoreEntry(path)) {
        int next = CheckListBox1->ItemIndex() + 1;
        if (next >= CheckListBox1->Count()) next = 0;
        CheckListBox1->SetItemIndex(next);
        path = CheckListBox1->Text(next);
    }
    ++activationCount;
    Image1->hide();
    Label9->hide();
    MediaPlayer1->hide();
    GroupBox1->hide();

    platform::DepthScope scope(ActivationDepth);
    const std::string ext = player::ExtensionKey(path);
    const player::Launch launch = player::LaunchFor(ext, path);
    platform::Services& services = platform::Current();
    switch (launch.kind) {
        case player::LaunchKind::None: return;
        case player::LaunchKind::Media: {
            try {
                services.media->Open(path);
            } catch (const EMCIDeviceError&) {
                services.boxes->Show(platform::BoxKind::Error, QStringLiteral("ご指定のファイルは壊れている\r\n可能性があります。"));
                return;
            }
            // Turned on once; enabling again would restart its countdown.
            if (!Timer2->Enabled()) Timer2->SetEnabled(true);
            Image1->hide();
            MediaPlayer1->show();
            GroupBox1->setVisible(ext == ".MP3" || ext == ".WAV");
            Label9->show();
            MediaPlayer1->setEnabled(true);
            return;
        }
        case player::LaunchKind::Jpeg: {
            // The thumbnail is small: a photo decoded at a reduction shows in a fraction of
            // the time its whole pixels take. With the viewer open, one decode at the size of
            // the viewer's box (which covers the thumbnail too) serves both: the decoder's
            // cost is mostly in reading the file, whatever the reduction.
            QPointer<TForm1> alive(this);
            QPointer<TForm6> viewer(Form6 && Form6->isVisible() ? Form6 : nullptr);
            const unsigned before = activationCount;
            std::optional<platform::Thumbnail> thumbnail;
            if (viewer) {
                // Closing the viewer meanwhile ends this load; the thumbnail's own follows.
                thumbnail = LoadWhileAnswering(this, path, viewer->PicturePixels().expandedTo(Image1->size()),
                                               [&viewer] { return viewer && viewer->isVisible(); });
                if (!thumbnail && !(alive && activationCount == before + 1)) return;
            }
            const bool forViewer = thumbnail.has_value();
            if (!thumbnail) thumbnail = LoadWhileAnswering(this, path, Image1->size());
            if (!thumbnail) return;
            Image1->setPixmap(QPixmap::fromImage(thumbnail->picture.Scaled(Image1->size())));
            Image1->show();
            if (thumbnail->whole || forViewer) {
                ShowInViewer(thumbnail->picture, thumbnail->whole ? std::string() : path);
                return;
            }
            // A closed viewer loads the picture itself when the thumbnail is double-clicked;
            // meanwhile it holds no other picture's pixels.
            if (Form6) Form6->ShowPicture(platform::Picture());
            return;
        }
        case player::LaunchKind::Picture: {
            Image1->show();
            const std::optional<platform::Thumbnail> loaded = LoadWhileAnswering(this, path);
            if (!loaded) return;
            Image1->setPixmap(QPixmap::fromImage(loaded->picture.Scaled(Image1->size())));
            ShowInViewer(loaded->picture);
            return;
        }
        case player::LaunchKind::ConfirmedProgram:
            if (services.boxes->Show(platform::BoxKind::Confirmation,
                                     QStringLiteral("\r\nこのプログラムを起動しますか（Y/N)？")) != platform::BoxAnswer::Yes)
                return;
            // The box let other events run: take the service afresh.
            platform::Current().programs->WinExec(launch.commands.front(), kShowNormal);
            return;
        case player::LaunchKind::Program:
            for (const std::string& command : launch.commands)
                if (services.programs->WinExec(command, kShowNormal) >= 32) break;
            return;
    }
}
