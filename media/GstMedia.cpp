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
#include "media/GstParts.h"
#include "app/NameDisplay.h"
#include "media/VideoWindow.h"
#include "media/WaveChunks.h"

namespace platform {

using namespace gst_parts;

namespace gst_parts {

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

}  // namespace gst_parts

namespace {

// playbin's flags: video, audio, software volume, deinterlacing, colour balance; no
// subtitles, which the player never shows.
constexpr guint kPlayFlags = 0x1 | 0x2 | 0x10 | 0x200 | 0x400;

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

// A Standard MIDI File, known by its header rather than by its name.
bool IsMidiFile(const std::string& path) {
    char head[4] = {};
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    const bool midi = std::fread(head, 1, sizeof head, f) == sizeof head && std::memcmp(head, "MThd", 4) == 0;
    std::fclose(f);
    return midi;
}

// playbin's element-setup: the MIDI synthesiser gets the device's gain.
void SetUpElement(GstElement*, GstElement* element, gpointer user) {
    GstElementFactory* factory = gst_element_get_factory(element);
    if (factory && std::strcmp(GST_OBJECT_NAME(factory), "fluiddec") == 0)
        g_object_set(element, "synth-gain", *static_cast<const double*>(user), nullptr);
}

}  // namespace

GstMediaDevice::GstMediaDevice() : GstMediaDevice(Options{}) {}

GstMediaDevice::GstMediaDevice(Options options) : options_(std::move(options)) {}

GstMediaDevice::~GstMediaDevice() {
    Close();
    if (synth_) {
        gst_element_set_state(synth_, GST_STATE_NULL);
        gst_object_unref(synth_);
    }
    // Widgets may only go while the application lives; at process exit it is gone already.
    if (window_ && QCoreApplication::instance()) delete window_;
}

namespace {

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

// filesrc ! midiparse ! the held synthesiser ! audioresample ! the output; nullptr
// when a part is not installed, for playbin to try and to name what is missing.
GstElement* GstMediaDevice::MakeMidiPipeline(const std::string& path, GstElement* audioSink) {
    if (!synth_) {
        GstElement* synth = gst_element_factory_make("fluiddec", nullptr);
        if (!synth) return nullptr;
        gst_object_ref_sink(synth);
        g_object_set(synth, "synth-gain", options_.midiGain, nullptr);
        // READY loads the sound font.
        if (gst_element_set_state(synth, GST_STATE_READY) == GST_STATE_CHANGE_FAILURE) {
            gst_element_set_state(synth, GST_STATE_NULL);
            gst_object_unref(synth);
            return nullptr;
        }
        synth_ = synth;
    }
    GstElement* pipeline = gst_pipeline_new(nullptr);
    GstElement* source = gst_element_factory_make("filesrc", nullptr);
    GstElement* parse = gst_element_factory_make("midiparse", nullptr);
    GstElement* resample = gst_element_factory_make("audioresample", nullptr);
    if (!source || !parse || !resample) {
        for (GstElement* e : {source, parse, resample})
            if (e) gst_object_unref(gst_object_ref_sink(e));
        gst_object_unref(gst_object_ref_sink(pipeline));
        return nullptr;
    }
    g_object_set(source, "location", path.c_str(), nullptr);
    gst_bin_add_many(GST_BIN(pipeline), source, parse, synth_, resample, audioSink, nullptr);
    if (!gst_element_link_many(source, parse, synth_, resample, audioSink, nullptr)) {
        gst_bin_remove(GST_BIN(pipeline), synth_);
        gst_object_unref(gst_object_ref_sink(pipeline));
        return nullptr;
    }
    return pipeline;
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
    if (const std::string fault = media::WaveFileFault(path); !fault.empty()) throw EMCIDeviceError(path + ": " + fault);
    path_ = path;
    audioSink_ = MakeAudioSink();
    if (outputLost_) ReportLoss("no sound server or device answers");
    if (IsMidiFile(path)) pipeline_ = MakeMidiPipeline(path, audioSink_);
    if (pipeline_) {
        gst_object_ref_sink(pipeline_);
    } else {
        pipeline_ = gst_element_factory_make("playbin", nullptr);
        if (!pipeline_) {
            gst_object_unref(audioSink_);
            audioSink_ = nullptr;
            FailOpen("playbin is not installed");
        }
        gst_object_ref_sink(pipeline_);
        GError* err = nullptr;
        gchar* uri = gst_filename_to_uri(path.c_str(), &err);
        if (!uri) {
            if (err) g_error_free(err);
            FailOpen("bad file name: " + path);
        }
        g_object_set(pipeline_, "uri", uri, "flags", kPlayFlags, nullptr);
        g_free(uri);
        g_object_set(pipeline_, "audio-sink", audioSink_, "video-sink", MakeVideoSink(), nullptr);
        g_signal_connect(pipeline_, "element-setup", G_CALLBACK(SetUpElement), &options_.midiGain);
    }
    // The system clock paces the medium, not the sound output's: the output's clock keeps
    // the time of its earlier streams, and a start after a while paused then stalls or
    // races until that time has caught up. The output follows the system clock.
    GstClock* clock = gst_system_clock_obtain();
    gst_pipeline_use_clock(GST_PIPELINE(pipeline_), clock);
    gst_object_unref(clock);
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
    // Only playbin has pictures to count; a MIDI file's own pipeline has none and no video sink.
    gint n = 0;
    const bool playbin = g_object_class_find_property(G_OBJECT_GET_CLASS(pipeline_), "n-video") != nullptr;
    if (playbin) g_object_get(pipeline_, "n-video", &n, nullptr);
    if (playbin && n == 0) {
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
            cleanEnd_ = true;
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
    // The held synthesiser leaves in READY, with its sound font.
    if (synth_ && GST_OBJECT_PARENT(synth_) == GST_OBJECT(pipeline_)) {
        gst_element_set_state(pipeline_, GST_STATE_READY);
        gst_bin_remove(GST_BIN(pipeline_), synth_);
        // A file stopped part-way or broken may leave notes, programs and controllers
        // behind that no flush clears for sure: the next file gets a synthesiser afresh.
        if (!cleanEnd_) {
            gst_element_set_state(synth_, GST_STATE_NULL);
            gst_object_unref(synth_);
            synth_ = nullptr;
        }
    }
    cleanEnd_ = false;
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
    // The kept synthesiser holds the last file's notes, programs and controllers until a
    // flush resets it: a MIDI file always starts behind one, from the start too.
    const bool keptSynth = synth_ && GST_OBJECT_PARENT(synth_) == GST_OBJECT(pipeline_);
    if (preroll.ready && preroll.failure.empty() && (fromNs > 0 || keptSynth)) {
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
