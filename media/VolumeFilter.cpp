#include "media/GstMedia.h"

#include <gst/gst.h>

#include <atomic>
#include <cstdint>

#include "media/GstParts.h"

namespace platform {

namespace {

std::atomic<std::uint32_t> g_volume{0xFFFFFFFFu};

// Scales the left and right samples of each interleaved stereo float block by the levels
// of the process volume; full volume leaves the block untouched.
GstPadProbeReturn ScaleChannels(GstPad*, GstPadProbeInfo* info, gpointer) {
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    if (!buffer) return GST_PAD_PROBE_OK;
    const std::uint32_t v = g_volume.load(std::memory_order_relaxed);
    if (v == 0xFFFFFFFFu) return GST_PAD_PROBE_OK;
    const float left = static_cast<float>(v & 0xFFFFu) / 65535.0f;
    const float right = static_cast<float>(v >> 16) / 65535.0f;
    buffer = gst_buffer_make_writable(buffer);
    GST_PAD_PROBE_INFO_DATA(info) = buffer;
    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_READWRITE)) return GST_PAD_PROBE_OK;
    auto* s = reinterpret_cast<float*>(map.data);
    const std::size_t frames = map.size / (2 * sizeof(float));
    for (std::size_t i = 0; i < frames; ++i) {
        s[2 * i] *= left;
        s[2 * i + 1] *= right;
    }
    gst_buffer_unmap(buffer, &map);
    return GST_PAD_PROBE_OK;
}

bool HasProperty(GstElement* element, const char* name) {
    return g_object_class_find_property(G_OBJECT_GET_CLASS(element), name) != nullptr;
}

}  // namespace

std::uint32_t ProcessVolume() { return g_volume.load(); }
void SetProcessVolume(std::uint32_t value) { g_volume.store(value); }

namespace gst_parts {

// `sink` (held by the caller) behind stereo float between two converters: mono files are
// spread to both channels, and the probe scales each channel on its own. The gain sits
// right before the output, after the player's second-long queue, so a bar's move is heard
// after the output's own short buffer only.
GstElement* WrapSink(GstElement* sink) {
    if (HasProperty(sink, "buffer-time"))
        g_object_set(sink, "buffer-time", kSinkBufferUs, "latency-time", kSinkLatencyUs, nullptr);
    // The output plays every sample it is given: a server slow to start a stream would
    // otherwise have the first part of the sound skipped to catch up with the clock.
    if (HasProperty(sink, "slave-method")) g_object_set(sink, "slave-method", 2 /* none */, nullptr);
    GstElement* in = gst_element_factory_make("audioconvert", nullptr);
    GstElement* caps = gst_element_factory_make("capsfilter", nullptr);
    GstElement* out = gst_element_factory_make("audioconvert", nullptr);
    if (!in || !caps || !out) {
        for (GstElement* e : {in, caps, out})
            if (e) gst_object_unref(e);
        return GST_ELEMENT(gst_object_ref(sink));
    }
    GstElement* bin = gst_bin_new(nullptr);
    gst_object_ref_sink(bin);
    GstCaps* stereo = gst_caps_from_string("audio/x-raw,format=F32LE,channels=2,layout=interleaved");
    g_object_set(caps, "caps", stereo, nullptr);
    gst_caps_unref(stereo);
    gst_bin_add_many(GST_BIN(bin), in, caps, out, GST_ELEMENT(gst_object_ref(sink)), nullptr);
    gst_element_link_many(in, caps, out, sink, nullptr);
    GstPad* probePad = gst_element_get_static_pad(caps, "src");
    gst_pad_add_probe(probePad, GST_PAD_PROBE_TYPE_BUFFER, ScaleChannels, nullptr, nullptr);
    gst_object_unref(probePad);
    GstPad* pad = gst_element_get_static_pad(in, "sink");
    gst_element_add_pad(bin, gst_ghost_pad_new("sink", pad));
    gst_object_unref(pad);
    return bin;
}

}  // namespace gst_parts

}  // namespace platform
