#include "media/GstMedia.h"

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/pbutils/pbutils.h>
#include <gst/video/video.h>
#include <sys/stat.h>

#include <QApplication>
#include <algorithm>
#include <chrono>
#include <cerrno>
#include <condition_variable>
#include <thread>
#include <cstdio>
#include <cstring>

#include "platform/Files.h"
#include "app/NameDisplay.h"
#include "media/VideoWindow.h"

namespace platform {

namespace {

std::atomic<std::uint32_t> g_volume{0xFFFFFFFFu};

// playbin's flags: video, audio, software volume, deinterlacing, colour balance; no
// subtitles, which the player never shows.
constexpr guint kPlayFlags = 0x1 | 0x2 | 0x10 | 0x200 | 0x400;

void EnsureGstreamer() {
    static const bool ready = [] {
        GError* err = nullptr;
        bool ok = gst_init_check(nullptr, nullptr, &err);
        if (err) g_error_free(err);
        if (ok) gst_pb_utils_init();
        return ok;
    }();
    if (!ready) throw EMCIDeviceError("GStreamer could not be initialised");
}

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

std::string MessageText(GstMessage* message) {
    GError* err = nullptr;
    gchar* debug = nullptr;
    gst_message_parse_error(message, &err, &debug);
    std::string text = err ? err->message : "error";
    if (err) g_error_free(err);
    g_free(debug);
    return text;
}

bool IsMissingPlugin(GstMessage* message) {
    const GstStructure* s = gst_message_get_structure(message);
    return s && gst_structure_has_name(s, "missing-plugin");
}

// What is missing in words, such as "H.264 (Main Profile) decoder".
std::string MissingPluginText(GstMessage* message) {
    gchar* description = gst_missing_plugin_message_get_description(message);
    std::string text = description ? description : "a plug-in";
    g_free(description);
    return text;
}

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

// playbin's element-setup: the MIDI synthesiser gets the device's gain.
void SetUpElement(GstElement*, GstElement* element, gpointer user) {
    GstElementFactory* factory = gst_element_get_factory(element);
    if (factory && std::strcmp(GST_OBJECT_NAME(factory), "fluiddec") == 0)
        g_object_set(element, "synth-gain", *static_cast<const double*>(user), nullptr);
}

}  // namespace

std::uint32_t ProcessVolume() { return g_volume.load(); }
void SetProcessVolume(std::uint32_t value) { g_volume.store(value); }

GstMediaDevice::GstMediaDevice() : GstMediaDevice(Options{}) {}

GstMediaDevice::GstMediaDevice(Options options) : options_(std::move(options)) {}

GstMediaDevice::~GstMediaDevice() {
    Close();
    // Widgets may only go while the application lives; at process exit it is gone already.
    if (window_ && QCoreApplication::instance()) delete window_;
}

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

}  // namespace

bool GstMediaDevice::SoundDeviceAvailable() {
    const Options defaults;
    GstElement* sink = FirstWorkingSink(defaults.soundSinks, defaults.soundProbeMs);
    if (sink) gst_object_unref(sink);
    return sink != nullptr;
}

namespace {

// Output buffering of a sound sink: a bar's move or a pause is heard this much later.
constexpr gint64 kSinkBufferUs = 100000;
constexpr gint64 kSinkLatencyUs = 10000;

bool HasProperty(GstElement* element, const char* name) {
    return g_object_class_find_property(G_OBJECT_GET_CLASS(element), name) != nullptr;
}

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

// What a wait for the medium to be ready found.
struct Preroll {
    bool ready = false;
    std::string failure;
    std::string missing;
    // The failure came from the audio output.
    bool audio = false;
};

// Waits on the bus itself until the medium is ready (ASYNC_DONE of the pipeline), or the
// first error, at most `timeoutMs`; missing decoders are collected on the way.
Preroll WaitForPreroll(GstElement* pipeline, GstBus* bus, GstStateChangeReturn ret, int timeoutMs, GstElement* audioSink) {
    Preroll r;
    if (ret == GST_STATE_CHANGE_FAILURE) r.failure = "cannot be opened";
    r.ready = ret == GST_STATE_CHANGE_SUCCESS || ret == GST_STATE_CHANGE_NO_PREROLL;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    const auto types = static_cast<GstMessageType>(GST_MESSAGE_ERROR | GST_MESSAGE_ASYNC_DONE | GST_MESSAGE_ELEMENT);
    bool sawError = false;
    for (bool waiting = true; waiting;) {
        GstClockTime timeout = 0;
        if (!r.ready && r.failure.empty()) {
            auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                r.failure = "not ready in time";
                break;
            }
            timeout = static_cast<GstClockTime>(left.count());
        }
        GstMessage* msg = gst_bus_timed_pop_filtered(bus, timeout, types);
        if (!msg) {
            if (r.ready || !r.failure.empty()) break;  // drained
            continue;
        }
        switch (GST_MESSAGE_TYPE(msg)) {
            case GST_MESSAGE_ERROR:
                // The first error says why, also when the state change failed at once.
                if (!sawError) {
                    sawError = true;
                    r.failure = MessageText(msg);
                    r.audio = audioSink && gst_object_has_as_ancestor(GST_MESSAGE_SRC(msg), GST_OBJECT(audioSink));
                }
                waiting = false;
                break;
            case GST_MESSAGE_ASYNC_DONE:
                if (GST_MESSAGE_SRC(msg) == GST_OBJECT(pipeline)) r.ready = true;
                break;
            case GST_MESSAGE_ELEMENT:
                if (IsMissingPlugin(msg)) r.missing += (r.missing.empty() ? "" : ", ") + MissingPluginText(msg);
                break;
            default: break;
        }
        gst_message_unref(msg);
    }
    if (ret == GST_STATE_CHANGE_FAILURE && !sawError && audioSink) {
        // Refused without a word: the output is to blame when it is what stayed behind.
        GstState state = GST_STATE_VOID_PENDING;
        gst_element_get_state(audioSink, &state, nullptr, 0);
        r.audio = state < GST_STATE_PAUSED;
    }
    return r;
}

std::string ClockText(std::int64_t ns) {
    const std::int64_t s = ns / GST_SECOND;
    char text[32];
    std::snprintf(text, sizeof text, "%lld:%02lld", static_cast<long long>(s / 60), static_cast<long long>(s % 60));
    return text;
}

}  // namespace

GstElement* GstMediaDevice::FindSoundOutput() {
    GstElement* sink = FirstWorkingSink(options_.soundSinks, options_.soundProbeMs);
    if (!sink) return nullptr;
    GstElement* wrapped = WrapSink(sink);
    gst_object_unref(sink);
    return wrapped;
}

GstElement* GstMediaDevice::MakeAudioSink() {
    // Asked at every open, so a sound server that came up after the program is used from
    // the next file on.
    outputLost_ = false;
    if (options_.audio == Options::Sink::Auto) {
        if (GstElement* sink = FindSoundOutput()) {
            soundSeen_ = true;
            nullAudio_ = false;
            lossReported_ = false;
            return sink;
        }
        // Sound played here before and now nothing answers: the server has gone. The
        // medium opens all the same and waits for it; a null sink would count down a file
        // nobody hears, and failing would make continuous play skip every song meanwhile.
        if (soundSeen_) outputLost_ = true;
    }
    nullAudio_ = !outputLost_;
    GstElement* sink = NullSink();
    gst_object_ref_sink(sink);
    if (options_.audioTap && nullAudio_) {
        g_object_set(sink, "signal-handoffs", TRUE, nullptr);
        g_signal_connect(sink, "handoff", G_CALLBACK(TapHandoff), &options_.audioTap);
    }
    GstElement* wrapped = WrapSink(sink);
    gst_object_unref(sink);
    return wrapped;
}

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

void GstMediaDevice::FailOpen(const std::string& why) {
    Close();
    throw EMCIDeviceError(why);
}

void GstMediaDevice::Open(const std::string& path) {
    try {
        OpenMedium(path);
    } catch (const EMCIDeviceError& e) {
        // The box the user sees says only that the file could not be opened; why, such as
        // which decoder is missing, goes here.
        std::fprintf(stderr, "tessaly: %s\n", e.what());
        throw;
    }
}

void GstMediaDevice::OpenMedium(const std::string& path) {
    Close();
    EnsureGstreamer();
    // Only plain files: the file source would block for ever opening a FIFO, and a device
    // such as /dev/zero never ends.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) throw EMCIDeviceError(path + ": " + SystemErrorText(errno));
    if (!S_ISREG(st.st_mode)) throw EMCIDeviceError(path + ": not a plain file");
    path_ = path;
    pipeline_ = gst_element_factory_make("playbin", nullptr);
    if (!pipeline_) FailOpen("playbin is not installed");
    gst_object_ref_sink(pipeline_);
    GError* err = nullptr;
    gchar* uri = gst_filename_to_uri(path.c_str(), &err);
    if (!uri) {
        if (err) g_error_free(err);
        FailOpen("bad file name: " + path);
    }
    g_object_set(pipeline_, "uri", uri, "flags", kPlayFlags, nullptr);
    g_free(uri);
    // The system clock paces the medium, not the sound output's: the output's clock keeps
    // the time of its earlier streams, and a start after a while paused then stalls or
    // races until that time has caught up. The output follows the system clock.
    GstClock* clock = gst_system_clock_obtain();
    gst_pipeline_use_clock(GST_PIPELINE(pipeline_), clock);
    gst_object_unref(clock);
    audioSink_ = MakeAudioSink();
    if (outputLost_) ReportLoss("no sound server or device answers");
    g_object_set(pipeline_, "audio-sink", audioSink_, "video-sink", MakeVideoSink(), nullptr);
    g_signal_connect(pipeline_, "element-setup", G_CALLBACK(SetUpElement), &options_.midiGain);
    if (window_) window_->setWindowTitle(QString::fromStdString(DisplayPath(path.substr(path.find_last_of('/') + 1))));

    GstBus* bus = gst_element_get_bus(pipeline_);
    const GstStateChangeReturn ret = gst_element_set_state(pipeline_, GST_STATE_PAUSED);
    // The medium is ready, or the first error (or a decoder that is missing, which would
    // otherwise play the file silently or without its picture) says why not.
    const Preroll preroll = WaitForPreroll(pipeline_, bus, ret, options_.openTimeoutMs, audioSink_);
    std::string failure = preroll.failure;
    // A missing decoder is the reason even when it left the medium unable to preroll.
    if (!preroll.missing.empty()) failure = "missing " + preroll.missing;
    if (failure.empty() && !preroll.ready) failure = "not ready";
    if (!failure.empty()) {
        gst_object_unref(bus);
        FailOpen(path + ": " + failure);
    }
    busWatch_ = gst_bus_add_watch(bus, reinterpret_cast<GstBusFunc>(&GstMediaDevice::OnBusMessage), this);
    gst_object_unref(bus);
    atEnd_ = false;
    playing_ = false;
    length_ = 0;
    lengthStale_ = false;
    heldNs_ = -1;
    lastNs_ = 0;
    // Some streams (MPEG program streams) count from a time above zero: positions are
    // taken from where the medium stands when it is ready.
    gint n = 0;
    g_object_get(pipeline_, "n-video", &n, nullptr);
    if (n == 0) {
        // A medium without pictures: a video sink that waits for its clock would hold the
        // sound for most of a second after each start. playbin takes another sink only
        // from NULL; the medium is made ready again behind it.
        gst_element_set_state(pipeline_, GST_STATE_NULL);
        GstElement* none = gst_element_factory_make("fakesink", nullptr);
        g_object_set(none, "sync", FALSE, "async", FALSE, nullptr);
        g_object_set(pipeline_, "video-sink", none, nullptr);
        if (mailbox_) {
            mailbox_->Detach();
            mailbox_.reset();
        }
        GstBus* again = gst_element_get_bus(pipeline_);
        while (GstMessage* stale = gst_bus_pop(again)) gst_message_unref(stale);
        const Preroll ready = WaitForPreroll(pipeline_, again, gst_element_set_state(pipeline_, GST_STATE_PAUSED),
                                             options_.openTimeoutMs, audioSink_);
        gst_object_unref(again);
        if (!ready.ready || !ready.failure.empty()) FailOpen(path + ": " + (ready.failure.empty() ? "not ready" : ready.failure));
    }
    Length();
    gint64 start = 0;
    startOffset_ = gst_element_query_position(pipeline_, GST_FORMAT_TIME, &start) && start > 0
                       ? static_cast<std::int64_t>(start / GST_MSECOND) : 0;
}

int GstMediaDevice::OnBusMessage(GstBus*, GstMessage* message, void* self) {
    static_cast<GstMediaDevice*>(self)->HandleBusMessage(message);
    return TRUE;
}

void GstMediaDevice::HandleBusMessage(GstMessage* message) {
    if (!pipeline_) return;
    switch (GST_MESSAGE_TYPE(message)) {
        case GST_MESSAGE_EOS:
            atEnd_ = true;
            playing_ = false;
            break;
        case GST_MESSAGE_ERROR:
            // Errors that follow the loss of the sound output (the decoders find the way
            // to the output shut) are part of that loss.
            if (outputLost_) break;
            if (audioSink_ && !nullAudio_ &&
                gst_object_has_as_ancestor(GST_MESSAGE_SRC(message), GST_OBJECT(audioSink_))) {
                LoseSoundOutput(MessageText(message));
                break;
            }
            // A medium that fails part-way counts as ended, so continuous play moves on.
            atEnd_ = true;
            playing_ = false;
            gst_element_set_state(pipeline_, GST_STATE_PAUSED);
            break;
        case GST_MESSAGE_DURATION_CHANGED: lengthStale_ = true; break;
        default: break;
    }
}

void GstMediaDevice::Close() {
    if (!pipeline_) return;
    if (busWatch_) {
        g_source_remove(busWatch_);
        busWatch_ = 0;
    }
    // Returns once the streaming threads have stopped: no frame comes after this.
    gst_element_set_state(pipeline_, GST_STATE_NULL);
    gst_object_unref(pipeline_);
    pipeline_ = nullptr;
    if (audioSink_) {
        gst_object_unref(audioSink_);
        audioSink_ = nullptr;
    }
    if (mailbox_) {
        mailbox_->Detach();
        mailbox_.reset();
    }
    if (window_) window_->Reset();
    atEnd_ = false;
    playing_ = false;
    length_ = 0;
    heldNs_ = -1;
    outputLost_ = false;
}

void GstMediaDevice::Play() {
    if (!pipeline_ || playing_) return;
    // A medium standing at its end starts over; otherwise it goes on where it stands.
    const std::int64_t from = atEnd_ ? 0 : StreamNs();
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (outputLost_) {
            // The output is looked for again, on a medium built afresh around it.
            const std::string path = path_;
            const bool reported = lossReported_;
            try {
                OpenMedium(path);
            } catch (const EMCIDeviceError& e) {
                std::fprintf(stderr, "tessaly: %s\n", e.what());
                return;
            }
            lossReported_ = reported && outputLost_;
            if (outputLost_) {
                heldNs_ = from;
                ReportLoss("no sound server or device answers");
                return;
            }
        }
        bool audioFailed = false;
        if (Restart(from, audioFailed)) return;
        if (!audioFailed) return;
        // The output in use failed on the way: look for one once more.
        LoseSoundOutput("the sound output refused the medium");
    }
}

// A sink that stood in PAUSED for a while starts its sound as late as it stood there (the
// sound servers' streams count the time they were corked), so every start goes through
// READY: the output's stream is made afresh, and a flushing seek puts the medium back
// where it stood.
bool GstMediaDevice::Restart(std::int64_t fromNs, bool& audioFailed) {
    audioFailed = false;
    gst_element_set_state(pipeline_, GST_STATE_READY);
    heldNs_ = fromNs;
    GstBus* bus = gst_element_get_bus(pipeline_);
    // Messages of the medium's earlier life have been acted on, or are moot now.
    while (GstMessage* stale = gst_bus_pop(bus)) gst_message_unref(stale);
    Preroll preroll = WaitForPreroll(pipeline_, bus, gst_element_set_state(pipeline_, GST_STATE_PAUSED),
                                     options_.openTimeoutMs, audioSink_);
    if (preroll.ready && preroll.failure.empty() && fromNs > 0) {
        const bool sought = gst_element_seek_simple(pipeline_, GST_FORMAT_TIME,
                                                    static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE), fromNs);
        if (sought) preroll = WaitForPreroll(pipeline_, bus, GST_STATE_CHANGE_ASYNC, options_.openTimeoutMs, audioSink_);
    }
    gst_object_unref(bus);
    if (!preroll.ready || !preroll.failure.empty()) {
        audioFailed = preroll.audio;
        gst_element_set_state(pipeline_, GST_STATE_READY);
        if (!audioFailed) {
            // The medium itself cannot go on (its file has gone meanwhile): it has ended.
            std::fprintf(stderr, "tessaly: %s: %s\n", path_.c_str(),
                         preroll.failure.empty() ? "not ready in time" : preroll.failure.c_str());
            atEnd_ = true;
        }
        return false;
    }
    heldNs_ = -1;
    if (!nullAudio_) lossReported_ = false;
    atEnd_ = false;
    playStartNs_ = fromNs;
    playStartTime_ = std::chrono::steady_clock::now();
    gst_element_set_state(pipeline_, GST_STATE_PLAYING);
    playing_ = true;
    if (window_) window_->Reveal();
    return true;
}

void GstMediaDevice::LoseSoundOutput(const std::string& why) {
    Length();  // known while the medium still stands in PAUSED or above
    if (!outputLost_) {
        heldNs_ = StreamNs();
        outputLost_ = true;
    }
    // Below PAUSED the streaming threads stand still; the medium waits there for Play.
    gst_element_set_state(pipeline_, GST_STATE_READY);
    playing_ = false;
    atEnd_ = false;
    ReportLoss(why);
}

void GstMediaDevice::ReportLoss(const std::string& why) {
    if (lossReported_) return;
    lossReported_ = true;
    std::fprintf(stderr, "tessaly: %s: the sound output has gone (%s); it stands at %s and plays on from there when 再生 is pressed once a sound server or device answers\n",
                 path_.c_str(), why.c_str(), ClockText(heldNs_ > 0 ? heldNs_ : 0).c_str());
}

std::int64_t GstMediaDevice::StreamNs() {
    if (heldNs_ >= 0) return heldNs_;
    gint64 p = 0;
    if (gst_element_query_position(pipeline_, GST_FORMAT_TIME, &p) && p >= 0) lastNs_ = p;
    if (playing_) {
        // A sound server reports the time of a fresh stream only after a while (PulseAudio
        // once a second), while the sound goes on: the position does not stand still
        // longer than the output's buffer behind the time played.
        // Never near the end, which only the output may tell.
        std::int64_t played =
            playStartNs_ + std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - playStartTime_).count();
        if (length_ > 0) played = std::min<std::int64_t>(played, (startOffset_ + length_ - 1000) * GST_MSECOND);
        lastNs_ = std::max<std::int64_t>(lastNs_, played - 2 * kSinkBufferUs * 1000);
    }
    return lastNs_;
}

void GstMediaDevice::Pause() {
    // A medium waiting for its sound output stands still already.
    if (!pipeline_ || outputLost_) return;
    gst_element_set_state(pipeline_, GST_STATE_PAUSED);
    playing_ = false;
}

// The device stops where it stands; the next Play goes on from there.
void GstMediaDevice::Stop() { Pause(); }

std::int64_t GstMediaDevice::Length() {
    if (!pipeline_) return 0;
    if (length_ <= 0 || lengthStale_) {
        // Kept when the medium cannot say (it stands below PAUSED, waiting for its output).
        gint64 d = 0;
        if (gst_element_query_duration(pipeline_, GST_FORMAT_TIME, &d) && d > 0) {
            length_ = static_cast<std::int64_t>(d / GST_MSECOND);
            lengthStale_ = false;
        }
    }
    return length_;
}

std::int64_t GstMediaDevice::Position() {
    if (!pipeline_) return 0;
    const std::int64_t length = Length();
    // A medium that ended without ever knowing its length (a header with no samples) must
    // still read as moved, or continuous play would restart it for ever.
    if (atEnd_) return length > 0 ? length : 1;
    std::int64_t ms = StreamNs() / GST_MSECOND - startOffset_;
    if (ms < 0) ms = 0;
    // The same streams report positions past their length at the end.
    if (length > 0 && ms > length) ms = length;
    return ms;
}

void GstMediaDevice::KeepClearOf(QWidget* controls) { VideoWindow::KeepClearOf(controls); }

}  // namespace platform
