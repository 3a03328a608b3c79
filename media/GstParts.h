#pragma once
// What the media device's files share: GStreamer's start, the sound output and its probe,
// and the volume filter put in front of a sound sink.
#include <gst/gst.h>

#include <string>
#include <vector>

namespace platform::gst_parts {

// Output buffering of a sound sink: a bar's move or a pause is heard this much later.
constexpr gint64 kSinkBufferUs = 100000;
constexpr gint64 kSinkLatencyUs = 10000;

// Starts GStreamer once; throws EMCIDeviceError when it cannot.
void EnsureGstreamer();

// A sink that plays nothing, in real time.
GstElement* NullSink();
// The null sink's handoff: gives each block of stereo float samples to the
// std::function<void(const float*, std::size_t)> in `user`.
void TapHandoff(GstElement*, GstBuffer* buffer, GstPad*, gpointer user);

// The first of the named sound sinks that answers within `timeoutMs` (held), or nullptr.
GstElement* FirstWorkingSink(const std::vector<std::string>& names, int timeoutMs);

// `sink` (held by the caller) behind the volume filter, in a bin of its own (held).
GstElement* WrapSink(GstElement* sink);

}  // namespace platform::gst_parts
