#pragma once
// The download queue without its windows: the phase that the ticks of the catalogue fetch and
// of the song run act on, the song in flight and what the client has said about it. The
// window's handlers and the client's events feed it; each tick asks it what to do next.
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <span>
#include <string>

#include "platform/DepthScope.h"

namespace download {

// Where the queue stands. Each keeps the number the window's DownloadState had before it was
// named, so that traces and debuggers show the same figures.
enum class Phase : int {
    Waiting = -1,  // a transfer is being started or is running: ticks leave it alone
    Aborted = 0,   // the transfer ended without its data (server refusal, cut, cancel): the run ends
    Arrived = 1,   // the data has come in: the song is kept, or the catalogue shown
    NextSong = 2,  // the next checked song is to be started
    Failed = 100,  // the song could not be had: its connection is closed and the run moves on
};

// What a tick asks the window to do.
enum class Action {
    None,            // nothing yet: no outcome, or a client call still runs
    AbortRun,        // stop the ticks, release the list, abort the client
    KeepSong,        // release the list; keep "temp" as the song if it is whole; disconnect
    SkipSong,        // release the list and disconnect
    StartSong,       // select and start the song at Index()
    EndRun,          // no checked song left: stop the ticks, release the list
    CatalogueFailed, // the catalogue ticks stop: disconnect, the connect button may be used again
    ShowCatalogue,   // the catalogue ticks stop: disconnect, read and show the catalogue
};

const char* NameOf(Phase phase);
const char* NameOf(Action action);
std::ostream& operator<<(std::ostream& out, Phase phase);
std::ostream& operator<<(std::ostream& out, Action action);

class Queue {
public:
    // References, so that the main window can show them under its own names.
    const Phase& State() const { return phase_; }
    // The catalogue index of the song in flight (-1 before the first).
    const int& Index() const { return index_; }
    // Its catalogue name ("TITLE" for the catalogue itself).
    const std::string& Name() const { return name_; }
    // A Connect, Download or Disconnect of the window's handlers is still running on the client.
    bool Busy() const { return busy_ > 0; }
    // The song in flight was cancelled: what the client still says about it moves nothing.
    bool Orphaned() const { return orphaned_; }
    bool Confirmed() const { return confirmed_; }
    std::int64_t Announced() const { return announced_; }

    // Counts a Connect, Download or Disconnect on the client for as long as the scope lives.
    [[nodiscard]] platform::DepthScope ClientCall() { return platform::DepthScope(busy_); }

    // ---- the windows ----
    // A run begins (the list's DOWNLOAD, or "take everything"): the first tick picks a song.
    void StartRun();
    // The list's CANCEL: the next tick ends the run.
    void Cancel();
    // The catalogue fetch begins.
    void StartCatalogue();
    // The song at Index() is about to be fetched: forgets the last song's outcome and takes
    // the name from `catalogue`. False, with the song failed, when Index() is not in it.
    bool BeginSong(std::span<const std::string> catalogue);
    // The song cannot be had (refused name, no connection, refused transfer, failed call).
    void Fail();

    // ---- the client's events ----
    void TransferStarted(std::int64_t announcedBytes) { announced_ = announcedBytes; }
    void TransferConfirmed() { confirmed_ = true; }
    void TransferFailed();
    void TransferStopped();

    // ---- the ticks ----
    // A tick of the run. `count` songs are in the list, `checked(i)` says whether song i is
    // ticked to be fetched; they are asked only when the next song is picked.
    Action Tick(int count, const std::function<bool(int)>& checked);
    // A tick of the catalogue fetch; it leaves the phase as it is.
    Action CatalogueTick() const;
    // The song that arrived in `size` bytes (-1: no file) is whole: the server confirmed it,
    // with as many bytes as it announced.
    bool SongWhole(std::int64_t size) const;

private:
    Phase phase_ = Phase::Aborted;
    int index_ = -1;
    std::string name_;
    int busy_ = 0;
    bool orphaned_ = false;
    bool confirmed_ = false;
    std::int64_t announced_ = 0;
};

}  // namespace download
