// The download queue's phases without windows or a server: each row puts a queue in a state
// through the events that lead there, applies one event, and checks where it ends.
#include <gtest/gtest.h>

#include <array>
#include <iterator>
#include <span>
#include <string>
#include <vector>

#include "download/Queue.h"

using download::Action;
using download::Phase;
using download::Queue;

namespace {

const std::array<std::string, 3> kCatalogue = {"a.wav", "b.wav", "c.wav"};
// The list window's check marks: the second song is not wanted.
const std::vector<bool> kChecked = {true, false, true};

Action TickList(Queue& q) {
    return q.Tick(static_cast<int>(kChecked.size()), [](int i) { return kChecked.at(static_cast<size_t>(i)); });
}

// How the queue got where the row starts. All but RunStarted stand at the first song (index 0).
enum class From {
    RunStarted,     // the list's DOWNLOAD, no tick yet
    Waiting,        // the first song is being fetched
    Aborted,        // the server refused it
    Arrived,        // its data came in
    NextSong,       // it was kept, the next is due
    Failed,         // it could not be had
    OrphanWaiting,  // cancelled while the client was inside Download
    OrphanRestart,  // ... and a new run started before the transfer unwound
    OrphanCancel,   // ... and cancelled once more
};

Queue Prepare(From from) {
    Queue q;
    q.StartRun();
    if (from == From::RunStarted) return q;
    EXPECT_EQ(TickList(q), Action::StartSong);
    EXPECT_TRUE(q.BeginSong(kCatalogue));
    switch (from) {
        case From::Aborted: q.TransferFailed(); break;
        case From::Arrived: q.TransferStopped(); break;
        case From::NextSong:
            q.TransferStopped();
            EXPECT_EQ(TickList(q), Action::KeepSong);
            break;
        case From::Failed: q.Fail(); break;
        case From::OrphanWaiting:
        case From::OrphanRestart:
        case From::OrphanCancel: {
            auto download = q.ClientCall();
            q.Cancel();
            EXPECT_EQ(TickList(q), Action::AbortRun);
            if (from == From::OrphanRestart) q.StartRun();
            if (from == From::OrphanCancel) q.Cancel();
            break;
        }
        default: break;
    }
    return q;
}

enum class Event { StartRun, Cancel, BeginSong, Fail, TransferFailed, TransferStopped, Tick, CatalogueTick, StartCatalogue };

Action Apply(Queue& q, Event event) {
    switch (event) {
        case Event::StartRun: q.StartRun(); break;
        case Event::Cancel: q.Cancel(); break;
        case Event::BeginSong: q.BeginSong(kCatalogue); break;
        case Event::Fail: q.Fail(); break;
        case Event::TransferFailed: q.TransferFailed(); break;
        case Event::TransferStopped: q.TransferStopped(); break;
        case Event::Tick: return TickList(q);
        case Event::CatalogueTick: return q.CatalogueTick();
        case Event::StartCatalogue: q.StartCatalogue(); break;
    }
    return Action::None;
}

constexpr bool kBusy = true, kIdle = false;

}  // namespace

TEST(DownloadQueue, PhaseByEvent) {
    struct Row {
        From from;
        bool busy;  // a Connect or Download of the handlers is running during the event
        Event event;
        Phase phase;
        int index;
        bool orphaned;
        Action action;
    };
    using E = Event;
    using P = Phase;
    using A = Action;
    const Row rows[] = {
        // A run starts with its first tick; a cancel before it still ends the run.
        {From::RunStarted, kIdle, E::Tick, P::Waiting, 0, false, A::StartSong},
        {From::RunStarted, kBusy, E::Tick, P::NextSong, -1, false, A::None},
        {From::RunStarted, kIdle, E::Cancel, P::Aborted, -1, false, A::None},
        // While a song is fetched, ticks wait and the client's events decide.
        {From::Waiting, kIdle, E::Tick, P::Waiting, 0, false, A::None},
        {From::Waiting, kBusy, E::TransferStopped, P::Arrived, 0, false, A::None},
        {From::Waiting, kBusy, E::TransferFailed, P::Aborted, 0, false, A::None},
        {From::Waiting, kBusy, E::Fail, P::Failed, 0, false, A::None},
        {From::Waiting, kBusy, E::Cancel, P::Aborted, 0, false, A::None},
        {From::Waiting, kIdle, E::CatalogueTick, P::Waiting, 0, false, A::None},
        {From::Waiting, kIdle, E::BeginSong, P::Waiting, 0, false, A::None},
        // Aborted: the run ends; a transfer still inside the client is orphaned.
        {From::Aborted, kIdle, E::Tick, P::Waiting, -1, false, A::AbortRun},
        {From::Aborted, kBusy, E::Tick, P::Waiting, -1, true, A::AbortRun},
        {From::Aborted, kIdle, E::CatalogueTick, P::Aborted, 0, false, A::CatalogueFailed},
        {From::Aborted, kBusy, E::CatalogueTick, P::Aborted, 0, false, A::None},
        {From::Aborted, kIdle, E::StartRun, P::NextSong, -1, false, A::None},
        // Arrived: kept once the client call has returned, never from inside its wait.
        {From::Arrived, kBusy, E::Tick, P::Arrived, 0, false, A::None},
        {From::Arrived, kIdle, E::Tick, P::NextSong, 0, false, A::KeepSong},
        {From::Arrived, kBusy, E::CatalogueTick, P::Arrived, 0, false, A::None},
        {From::Arrived, kIdle, E::CatalogueTick, P::Arrived, 0, false, A::ShowCatalogue},
        {From::Arrived, kBusy, E::TransferFailed, P::Aborted, 0, false, A::None},
        {From::Arrived, kBusy, E::Fail, P::Failed, 0, false, A::None},
        // Next song: the next checked one, once the client is free.
        {From::NextSong, kBusy, E::Tick, P::NextSong, 0, false, A::None},
        {From::NextSong, kIdle, E::Tick, P::Waiting, 2, false, A::StartSong},
        {From::NextSong, kIdle, E::CatalogueTick, P::NextSong, 0, false, A::None},
        // Failed: the connection is closed and the run moves on.
        {From::Failed, kBusy, E::Tick, P::Failed, 0, false, A::None},
        {From::Failed, kIdle, E::Tick, P::NextSong, 0, false, A::SkipSong},
        {From::Failed, kIdle, E::CatalogueTick, P::Failed, 0, false, A::None},
        // An orphaned transfer's events move nothing; only the next song's start forgets it.
        {From::OrphanWaiting, kBusy, E::TransferFailed, P::Waiting, -1, true, A::None},
        {From::OrphanWaiting, kBusy, E::TransferStopped, P::Waiting, -1, true, A::None},
        {From::OrphanWaiting, kBusy, E::Fail, P::Waiting, -1, true, A::None},
        {From::OrphanWaiting, kIdle, E::Tick, P::Waiting, -1, true, A::None},
        {From::OrphanRestart, kBusy, E::Tick, P::NextSong, -1, true, A::None},
        {From::OrphanRestart, kBusy, E::TransferFailed, P::NextSong, -1, true, A::None},
        {From::OrphanRestart, kBusy, E::TransferStopped, P::NextSong, -1, true, A::None},
        {From::OrphanRestart, kIdle, E::Tick, P::Waiting, 0, true, A::StartSong},
        {From::OrphanCancel, kBusy, E::Tick, P::Waiting, -1, true, A::AbortRun},
        // A catalogue fetch after the orphan has unwound hears its own transfer's events.
        {From::OrphanWaiting, kIdle, E::StartCatalogue, P::Waiting, -1, false, A::None},
        // A song start outside the catalogue fails the song, and forgets the orphan as well.
        {From::OrphanWaiting, kIdle, E::BeginSong, P::Failed, -1, false, A::None},
    };
    for (size_t i = 0; i < std::size(rows); ++i) {
        const Row& r = rows[i];
        SCOPED_TRACE("row " + std::to_string(i));
        Queue q = Prepare(r.from);
        Action action;
        if (r.busy) {
            auto call = q.ClientCall();
            action = Apply(q, r.event);
        } else {
            action = Apply(q, r.event);
        }
        EXPECT_EQ(action, r.action);
        EXPECT_EQ(q.State(), r.phase);
        EXPECT_EQ(q.Index(), r.index);
        EXPECT_EQ(q.Orphaned(), r.orphaned);
        EXPECT_FALSE(q.Busy());  // the count ends with the call
    }
}

TEST(DownloadQueue, NextSongIsTheNextCheckedOneAndTheRunEndsAfterTheLast) {
    struct Row {
        std::vector<bool> checked;
        std::vector<int> started;  // indexes of the songs started, in order
        int endIndex;
    };
    const Row rows[] = {
        {{true, false, true}, {0, 2}, 3},
        {{false, false, true}, {2}, 3},
        {{false, false, false}, {}, 3},
        {{}, {}, 0},  // no list window, or an empty list
        {{true, true, true}, {0, 1, 2}, 3},
    };
    for (const Row& r : rows) {
        Queue q;
        q.StartRun();
        std::vector<int> started;
        const int count = static_cast<int>(r.checked.size());
        auto checked = [&](int i) { return r.checked.at(static_cast<size_t>(i)); };
        Action a;
        while ((a = q.Tick(count, checked)) == Action::StartSong) {
            started.push_back(q.Index());
            q.Fail();  // the song fails; the next tick closes its connection
            ASSERT_EQ(q.Tick(count, checked), Action::SkipSong);
        }
        EXPECT_EQ(a, Action::EndRun);
        EXPECT_EQ(started, r.started);
        EXPECT_EQ(q.Index(), r.endIndex);
        EXPECT_EQ(q.State(), Phase::Waiting);
    }
}

TEST(DownloadQueue, SongIsWholeOnlyWhenConfirmedWithTheAnnouncedSize) {
    struct Row {
        bool confirmed;
        std::int64_t announced;  // 0: the server named no size
        std::int64_t size;       // -1: no file
        bool whole;
    };
    const Row rows[] = {
        {true, 0, 5, true},      {true, 5, 5, true},   {true, 0, 0, true},   {true, -1, 3, true},
        {true, 5, 4, false},     {true, 5, 6, false},  {false, 5, 5, false}, {false, 0, 5, false},
        {true, 0, -1, false},    {true, 5, -1, false},
    };
    for (const Row& r : rows) {
        Queue q = Prepare(From::Waiting);
        if (r.announced != 0) q.TransferStarted(r.announced);
        if (r.confirmed) q.TransferConfirmed();
        EXPECT_EQ(q.SongWhole(r.size), r.whole) << r.confirmed << " " << r.announced << " " << r.size;
        // The next song forgets what the server said about this one.
        q.StartRun();
        TickList(q);
        ASSERT_TRUE(q.BeginSong(kCatalogue));
        EXPECT_FALSE(q.Confirmed());
        EXPECT_EQ(q.Announced(), 0);
        EXPECT_FALSE(q.SongWhole(r.size));
    }
}

TEST(DownloadQueue, SongNameComesFromTheCatalogueAndTheCatalogueHasItsOwn) {
    Queue q = Prepare(From::NextSong);
    EXPECT_EQ(q.Name(), "a.wav");
    ASSERT_EQ(TickList(q), Action::StartSong);
    ASSERT_TRUE(q.BeginSong(kCatalogue));
    EXPECT_EQ(q.Name(), "c.wav");
    q.TransferStarted(100);
    q.TransferConfirmed();
    q.StartCatalogue();
    EXPECT_EQ(q.Name(), "TITLE");
    EXPECT_EQ(q.State(), Phase::Waiting);
    EXPECT_EQ(TickList(q), Action::None);
    // The song's outcome is not the catalogue's.
    EXPECT_FALSE(q.Confirmed());
    EXPECT_EQ(q.Announced(), 0);

    // After a cancelled song has unwound, the catalogue's end is heard (the failure twin: the
    // orphan's own end moves nothing).
    Queue after = Prepare(From::OrphanWaiting);
    after.TransferStopped();
    EXPECT_EQ(after.CatalogueTick(), Action::None);
    after.StartCatalogue();
    after.TransferStopped();
    EXPECT_EQ(after.CatalogueTick(), Action::ShowCatalogue);

    // No song picked yet, or one past the catalogue's end: the song fails.
    Queue unpicked = Prepare(From::RunStarted);
    EXPECT_FALSE(unpicked.BeginSong(kCatalogue));
    EXPECT_EQ(unpicked.State(), Phase::Failed);
    Queue beyond = Prepare(From::RunStarted);
    ASSERT_EQ(TickList(beyond), Action::StartSong);
    EXPECT_FALSE(beyond.BeginSong(std::span<const std::string>(kCatalogue).first(0)));
    EXPECT_EQ(beyond.State(), Phase::Failed);
    EXPECT_EQ(beyond.Name(), "");
}
