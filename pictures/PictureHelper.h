#pragma once
// Pictures decoded in a helper process of our own. The decoders (libjpeg, the metafile
// converters, Qt's image readers) read untrusted files; in the helper, a crash, an endless
// loop or a decompression bomb costs one picture and not the program. The helper runs under
// memory and CPU limits and hands back plain pixels in sealed shared memory.
#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

#include "pictures/Pictures.h"

namespace platform {

// Loads a picture as LoadPicture does, with the decoding done in the helper. Waits in the
// event loop, so the window goes on answering; other handlers may run meanwhile, and a
// picture loaded from one of them uses a helper of its own. A helper that dies, outgrows
// the memory budget or takes longer than the deadline is killed and replaced, and this
// picture raises EInvalidGraphic like any unreadable file.
// `wanted`, when given, is asked while the helper works; once it says no, the helper is
// stopped at once and the picture raises EInvalidGraphic.
Picture LoadPictureContained(const std::string& path, const std::function<bool()>& wanted = nullptr);

// A picture for a thumbnail of `atLeast` pixels, loaded as LoadPictureContained loads it,
// except that a JPEG much larger than the thumbnail comes reduced (see DecodeJpeg), in a
// fraction of the time. `whole` says whether the picture came at its full size.
struct Thumbnail {
    Picture picture;
    bool whole = true;
};
Thumbnail LoadThumbnailContained(const std::string& path, QSize atLeast, const std::function<bool()>& wanted = nullptr);

// Starts a helper ahead of the first picture, so that the first click does not wait for one.
void PreparePictureHelper();

// Adjustable for tests and benchmarks.
struct PictureHelperSettings {
    // The helper program; empty: "tessaly-picture" beside the running program, else the
    // installed one.
    std::string program;
    // How long one picture may take once the helper has it.
    int deadlineMs = 3000;
    // How long a new helper may take to start.
    int startMs = 15000;
    // Called with the helper's process id once a request is on its way.
    std::function<void(pid_t)> onRequestSent;
};
PictureHelperSettings& PictureHelperTuning();

// The process ids of the helpers that run now (busy or waiting).
std::vector<pid_t> PictureHelperPids();
// Ends every helper at once (tests; the next picture starts a new one).
void StopPictureHelpers();

}  // namespace platform
