#include "platform/ReadAhead.h"

#include <pthread.h>

#include <algorithm>
#include <exception>
#include <system_error>

namespace platform {

namespace {

std::thread StartThread(const ReadAheadOptions& options, std::function<void()> body) {
    if (options.startThread) return options.startThread(std::move(body));
    try {
        return std::thread(std::move(body));
    } catch (const std::system_error&) {
        return std::thread();  // out of threads: the walk reads at its turn
    }
}

}  // namespace

ReadAheadLevel::ReadAheadLevel(const PathList& folders, const ReadAheadOptions& options, StampedReadFn ahead,
                               InTurnReadFn inTurn, ReadAheadCounts& counts)
    : folders_(folders),
      options_(options),
      ahead_(std::move(ahead)),
      inTurn_(std::move(inTurn)),
      counts_(counts),
      window_(std::max(1, options.window)),
      ring_(static_cast<size_t>(window_)) {
    const int wanted = std::min(options.threads, folders.Count());
    for (int i = 0; i < wanted; ++i) {
        std::thread t = StartThread(options_, [this] { Help(); });
        if (!t.joinable()) {
            ++counts_.helpersFailed;
            continue;
        }
        ++counts_.helpersStarted;
        // Named here rather than by the helper, so that it bears the name from its start.
        pthread_setname_np(t.native_handle(), "tessaly-ahead");
        helpers_.push_back(std::move(t));
    }
}

ReadAheadLevel::~ReadAheadLevel() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    room_.notify_all();
    for (std::thread& t : helpers_) t.join();
}

bool ReadAheadLevel::MayClaim() const {
    return next_ < folders_.Count() && next_ < at_ + window_ && bytes_ < options_.windowBytes;
}

bool ReadAheadLevel::HelpersWanted() const {
    return helpersWaiting_ > 0 && next_ < folders_.Count() && next_ - at_ <= window_ * 3 / 4 &&
           bytes_ <= options_.windowBytes / 2;
}

void ReadAheadLevel::Help() {
    std::string folder, entries;
    for (;;) {
        int index;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            while (!stop_ && next_ < folders_.Count() && !MayClaim()) {
                ++helpersWaiting_;
                room_.wait(lock);
                --helpersWaiting_;
            }
            if (stop_ || next_ >= folders_.Count()) return;
            index = next_++;
            ring_[static_cast<size_t>(index % window_)].state = SlotState::Reading;
            counts_.mostAhead = std::max(counts_.mostAhead, next_ - at_);
            folder.assign(folders_.At(index));
        }
        entries.clear();
        bool whole = true;
        FolderStamp stamp;
        bool ok = false;
        try {
            ok = ahead_(folder, [&](std::string_view name, EntryType type) {
                if (!whole) return;
                if (entries.size() + name.size() + 2 > options_.folderBytes) {
                    // Too long to hold: the walk reads it again at its turn, from the warmed cache.
                    whole = false;
                    entries.clear();
                    return;
                }
                entries.push_back(type == EntryType::Folder ? 'd' : 'f');
                entries.append(name).push_back('\0');
            }, &stamp);
        } catch (const std::exception&) {
            ok = false;  // out of memory here: the walk reads the folder itself
        }
        bool walkWaits;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            Slot& slot = ring_[static_cast<size_t>(index % window_)];
            slot.ok = ok;
            slot.whole = whole;
            slot.stamp = stamp;
            slot.entries.swap(entries);
            slot.state = SlotState::Done;
            bytes_ += slot.entries.size();
            counts_.mostBytes = std::max(counts_.mostBytes, bytes_);
            walkWaits = walkWaitsFor_ == index;
        }
        if (walkWaits) ready_.notify_one();
        if (options_.onReadAhead) options_.onReadAhead(index);
    }
}

bool ReadAheadLevel::InTurn(int index, const FolderEntryFn& onEntry) {
    ++counts_.readInTurn;
    path_.assign(folders_.At(index));
    return inTurn_(path_, onEntry);
}

bool ReadAheadLevel::Read(int index, const FolderEntryFn& onEntry) {
    Slot taken;
    bool wake = false;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        // Folders are taken in order; anything else is read as it is now.
        if (index != at_ || index >= folders_.Count()) {
            lock.unlock();
            return InTurn(index, onEntry);
        }
        if (next_ <= index) {
            // No helper got to it: read it here, and let the helpers go on behind it.
            next_ = at_ = index + 1;
            const bool helpersWanted = HelpersWanted();
            lock.unlock();
            if (helpersWanted) room_.notify_all();
            ++counts_.notReached;
            return InTurn(index, onEntry);
        }
        Slot& slot = ring_[static_cast<size_t>(index % window_)];
        walkWaitsFor_ = index;
        ready_.wait(lock, [&] { return slot.state == SlotState::Done; });
        walkWaitsFor_ = -1;
        bytes_ -= slot.entries.size();
        taken.ok = slot.ok;
        taken.whole = slot.whole;
        taken.stamp = slot.stamp;
        taken.entries.swap(slot.entries);
        slot.state = SlotState::Empty;
        // Only now may a helper take this slot for a folder further on.
        at_ = index + 1;
        wake = HelpersWanted();
    }
    if (wake) room_.notify_all();
    path_.assign(folders_.At(index));
    // A failed read ahead proves nothing about now (the folder may have come back): the
    // turn reads it as it is.
    if (!taken.ok || !taken.whole || !StillAsStamped(path_, taken.stamp, options_.settled)) {
        ++(taken.ok ? counts_.notVouched : counts_.failedAhead);
        ++counts_.readInTurn;
        return inTurn_(path_, onEntry);
    }
    ++counts_.handedOver;
    const char* p = taken.entries.data();
    const char* end = p + taken.entries.size();
    while (p < end) {
        const EntryType type = *p == 'd' ? EntryType::Folder : EntryType::File;
        const std::string_view name(p + 1);
        onEntry(name, type);
        p += name.size() + 2;
    }
    return true;
}

}  // namespace platform
