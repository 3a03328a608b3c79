#include "download/Queue.h"

#include <ostream>

namespace download {

const char* NameOf(Phase phase) {
    switch (phase) {
        case Phase::Waiting: return "Waiting";
        case Phase::Aborted: return "Aborted";
        case Phase::Arrived: return "Arrived";
        case Phase::NextSong: return "NextSong";
        case Phase::Failed: return "Failed";
    }
    return "?";
}

const char* NameOf(Action action) {
    switch (action) {
        case Action::None: return "None";
        case Action::AbortRun: return "AbortRun";
        case Action::KeepSong: return "KeepSong";
        case Action::SkipSong: return "SkipSong";
        case Action::StartSong: return "StartSong";
        case Action::EndRun: return "EndRun";
        case Action::CatalogueFailed: return "CatalogueFailed";
        case Action::ShowCatalogue: return "ShowCatalogue";
    }
    return "?";
}

std::ostream& operator<<(std::ostream& out, Phase phase) { return out << NameOf(phase); }
std::ostream& operator<<(std::ostream& out, Action action) { return out << NameOf(action); }

void Queue::StartRun() {
    phase_ = Phase::NextSong;
    index_ = -1;
}

void Queue::Cancel() { phase_ = Phase::Aborted; }

void Queue::StartCatalogue() {
    // Shown in the status bar while the catalogue comes in.
    name_ = "TITLE";
    phase_ = Phase::Waiting;
    // What the client says from now on is about the catalogue, also after a cancelled song.
    confirmed_ = false;
    announced_ = 0;
    orphaned_ = false;
}

bool Queue::BeginSong(std::span<const std::string> catalogue) {
    phase_ = Phase::Waiting;
    confirmed_ = false;
    announced_ = 0;
    orphaned_ = false;
    if (index_ < 0 || index_ >= static_cast<int>(catalogue.size())) {
        phase_ = Phase::Failed;
        return false;
    }
    name_ = catalogue[static_cast<size_t>(index_)];
    return true;
}

// The events of a cancelled transfer that still unwinds belong to no song of the queue: the
// run may have ended, or a new one may be waiting for the client.
void Queue::Fail() {
    if (!orphaned_) phase_ = Phase::Failed;
}

void Queue::TransferFailed() {
    if (!orphaned_) phase_ = Phase::Aborted;
}

void Queue::TransferStopped() {
    if (!orphaned_) phase_ = Phase::Arrived;
}

Action Queue::Tick(int count, const std::function<bool(int)>& checked) {
    switch (phase_) {
        case Phase::Aborted:
            phase_ = Phase::Waiting;
            index_ = -1;
            // The song still in flight ends as aborted, but no longer moves the queue.
            if (busy_ > 0) orphaned_ = true;
            return Action::AbortRun;
        case Phase::Arrived:
            // Still inside Download (the final reply is awaited): completed at a later tick,
            // once the outcome is known and the client can be disconnected safely.
            if (busy_ > 0) return Action::None;
            phase_ = Phase::NextSong;
            return Action::KeepSong;
        case Phase::NextSong:
            // An earlier transfer is still unwinding: one download at a time on the client.
            if (busy_ > 0) return Action::None;
            do {
                ++index_;
                phase_ = Phase::Waiting;
            } while (index_ < count && !checked(index_));
            return index_ >= count ? Action::EndRun : Action::StartSong;
        case Phase::Failed:
            if (busy_ > 0) return Action::None;
            phase_ = Phase::NextSong;
            return Action::SkipSong;
        case Phase::Waiting:
            return Action::None;
    }
    return Action::None;
}

Action Queue::CatalogueTick() const {
    if (phase_ != Phase::Aborted && phase_ != Phase::Arrived) return Action::None;
    // Still inside Download (the final reply is awaited): the next tick acts, once it has
    // returned, so the client is never disconnected from inside its own wait.
    if (busy_ > 0) return Action::None;
    return phase_ == Phase::Aborted ? Action::CatalogueFailed : Action::ShowCatalogue;
}

bool Queue::SongWhole(std::int64_t size) const {
    return confirmed_ && size >= 0 && (announced_ <= 0 || size == announced_);
}

}  // namespace download
