#include "media/GstMedia.h"

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <QApplication>
#include <memory>

#include "media/GstParts.h"
#include "media/VideoWindow.h"

namespace platform {

using namespace gst_parts;

namespace {

// Frames of the video sink to the window's mailbox: the mapped buffer itself, held by the
// picture until the window has let go of it.
struct HeldBuffer {
    GstBuffer* buffer;
    GstMapInfo map;
};

void ReleaseHeld(void* p) {
    auto* held = static_cast<HeldBuffer*>(p);
    gst_buffer_unmap(held->buffer, &held->map);
    gst_buffer_unref(held->buffer);
    delete held;
}

void PostSample(GstSample* sample, FrameMailbox& mailbox) {
    GstVideoInfo info;
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    GstCaps* caps = gst_sample_get_caps(sample);
    if (!buffer || !caps || !gst_video_info_from_caps(&info, caps)) return;
    const int width = GST_VIDEO_INFO_WIDTH(&info);
    const int height = GST_VIDEO_INFO_HEIGHT(&info);
    const int stride = GST_VIDEO_INFO_PLANE_STRIDE(&info, 0);
    auto* held = new HeldBuffer{gst_buffer_ref(buffer), {}};
    if (!gst_buffer_map(buffer, &held->map, GST_MAP_READ) ||
        held->map.size < static_cast<gsize>(stride) * static_cast<gsize>(height)) {
        if (held->map.data) gst_buffer_unmap(buffer, &held->map);
        gst_buffer_unref(buffer);
        delete held;
        return;
    }
    mailbox.Post(QImage(held->map.data, width, height, stride, QImage::Format_RGB32, ReleaseHeld, held));
}

GstFlowReturn OnPreroll(GstAppSink* sink, gpointer user) {
    if (GstSample* sample = gst_app_sink_pull_preroll(sink)) {
        PostSample(sample, **static_cast<std::shared_ptr<FrameMailbox>*>(user));
        gst_sample_unref(sample);
    }
    return GST_FLOW_OK;
}

GstFlowReturn OnSample(GstAppSink* sink, gpointer user) {
    if (GstSample* sample = gst_app_sink_pull_sample(sink)) {
        PostSample(sample, **static_cast<std::shared_ptr<FrameMailbox>*>(user));
        gst_sample_unref(sample);
    }
    return GST_FLOW_OK;
}

void DropMailbox(gpointer user) { delete static_cast<std::shared_ptr<FrameMailbox>*>(user); }

}  // namespace

GstElement* GstMediaDevice::MakeVideoSink() {
    // The picture goes to a window of our own, drawn by Qt: the same under X11, Wayland and
    // offscreen. Without widgets (a tool without a GUI) nobody could see it.
    if (options_.video == Options::Sink::Null || !qobject_cast<QApplication*>(QCoreApplication::instance()))
        return NullSink();
    GstElement* sink = gst_element_factory_make("appsink", nullptr);
    if (!sink) return NullSink();
    if (!window_) {
        window_ = new VideoWindow;
        // Before the application goes: stop the streaming threads that feed the window.
        QObject::connect(qApp, &QCoreApplication::aboutToQuit, window_, [this] { Close(); });
    }
    mailbox_ = std::make_shared<FrameMailbox>(window_);
    // 32-bit pixels in the order of QImage::Format_RGB32, square pixels: playbin converts
    // and scales whatever the decoder gives to this.
    GstCaps* caps = gst_caps_from_string(
        G_BYTE_ORDER == G_LITTLE_ENDIAN ? "video/x-raw,format=BGRx,pixel-aspect-ratio=1/1"
                                        : "video/x-raw,format=xRGB,pixel-aspect-ratio=1/1");
    // Played in real time; a GUI slower than the video skips frames instead of holding up
    // the sound.
    g_object_set(sink, "caps", caps, "sync", TRUE, "max-buffers", 1u, "drop", TRUE, nullptr);
    gst_caps_unref(caps);
    GstAppSinkCallbacks callbacks{};
    callbacks.new_preroll = OnPreroll;
    callbacks.new_sample = OnSample;
    gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, new std::shared_ptr<FrameMailbox>(mailbox_), DropMailbox);
    return sink;
}

}  // namespace platform
