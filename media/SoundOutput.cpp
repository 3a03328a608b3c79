#include "media/GstMedia.h"

#include <gst/gst.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "media/GstParts.h"

namespace platform {

using namespace gst_parts;

namespace gst_parts {

void TapHandoff(GstElement*, GstBuffer* buffer, GstPad*, gpointer user) {
    auto* tap = static_cast<std::function<void(const float*, std::size_t)>*>(user);
    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_READ)) return;
    (*tap)(reinterpret_cast<const float*>(map.data), map.size / (2 * sizeof(float)));
    gst_buffer_unmap(buffer, &map);
}

GstElement* NullSink() {
    GstElement* sink = gst_element_factory_make("fakesink", nullptr);
    // Played in real time, as a sound card would, so positions advance as the user expects.
    g_object_set(sink, "sync", TRUE, nullptr);
    return sink;
}

}  // namespace gst_parts

namespace {

// The first of the named sinks that reaches READY (sinks open their device on the way
// there), back in NULL; or nullptr. Named, rather than left to the automatic sinks, whose
// probing also tries framebuffer sinks that crash under an X server without them.
GstElement* FirstReadySink(const std::vector<std::string>& names) {
    for (const std::string& name : names) {
        GstElement* sink = gst_element_factory_make(name.c_str(), nullptr);
        if (!sink) continue;
        gst_object_ref_sink(sink);
        const bool ok = gst_element_set_state(sink, GST_STATE_READY) != GST_STATE_CHANGE_FAILURE;
        gst_element_set_state(sink, GST_STATE_NULL);
        if (ok) return sink;
        gst_object_unref(sink);
    }
    return nullptr;
}

struct SinkProbe {
    std::mutex m;
    std::condition_variable done;
    bool finished = false;
    bool abandoned = false;
    GstElement* sink = nullptr;
};

// Set while a probe that was given up on still waits for its sound server.
std::atomic<bool> g_probeHanging{false};

}  // namespace

namespace gst_parts {

// FirstReadySink, given at most `timeoutMs`: a sound server that accepts the connection and
// then never answers would otherwise hold the GUI until it closes the connection. The probe
// runs on a thread of its own; one given up on is left to end by itself, and until it has,
// no other is started (the sound output counts as not answering).
GstElement* FirstWorkingSink(const std::vector<std::string>& names, int timeoutMs) {
    try {
        EnsureGstreamer();
    } catch (...) {
        return nullptr;
    }
    if (g_probeHanging.load()) return nullptr;
    auto probe = std::make_shared<SinkProbe>();
    std::thread([probe, names] {
        GstElement* sink = FirstReadySink(names);
        std::lock_guard<std::mutex> lock(probe->m);
        probe->finished = true;
        if (probe->abandoned) {
            if (sink) gst_object_unref(sink);
            g_probeHanging.store(false);
        } else {
            probe->sink = sink;
        }
        probe->done.notify_all();
    }).detach();
    std::unique_lock<std::mutex> lock(probe->m);
    if (!probe->done.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return probe->finished; })) {
        probe->abandoned = true;
        g_probeHanging.store(true);
        return nullptr;
    }
    return probe->sink;
}

}  // namespace gst_parts

bool GstMediaDevice::SoundDeviceAvailable() {
    const Options defaults;
    GstElement* sink = FirstWorkingSink(defaults.soundSinks, defaults.soundProbeMs);
    if (sink) gst_object_unref(sink);
    return sink != nullptr;
}

}  // namespace platform
