// The thumbnail's double-click: the picture in the viewer window, centred and on top.
#include <QPointer>
#include <cmath>

#include "app/Forms.h"
#include "app/TForm1.h"
#include "pictures/PictureHelper.h"
#include "platform/Services.h"
#include "platform/Topmost.h"
#include "player/Playback.h"
#include "player/TForm6.h"

void TForm1::Image1DblClick() {
    const std::string path = CheckListBox1->Text(CheckListBox1->ItemIndex());
    QPointer<TForm1> alive(this);
    // Decoded in the helper; the windows answer meanwhile, and may be gone afterwards. A
    // click on another item meanwhile ends the load: the thumbnail no longer shows this picture.
    const unsigned mine = player::ActivationCount();
    const auto wanted = [&] { return alive && mine == player::ActivationCount(); };
    if (!Form6) return;
    // No more pixels than the viewer's box shows (a large photo comes reduced); a larger box
    // later gets it decoded again.
    platform::Thumbnail picture;
    try {
        picture = platform::LoadThumbnailContained(path, Form6->PicturePixels(), wanted);
    } catch (const EInvalidGraphic&) {
        if (!wanted()) return;
        throw;
    }
    if (!wanted() || !Form6) return;
    Form6->ShowPicture(picture.picture, picture.whole ? std::string() : path);
    platform::Desktop& desktop = *platform::Current().desktop;
    const QRect area = desktop.AvailableArea();
    // As large as the user left it, but never past the screen.
    const QSize outer = Form6->OuterSize().boundedTo(area.size());
    const QPoint at = platform::OnScreenPosition(desktop.ScreenSize(), area, outer);
    platform::PlaceTopmost(Form6, at, platform::ClientSizeOf(outer));
    Form6->activateWindow();
}
