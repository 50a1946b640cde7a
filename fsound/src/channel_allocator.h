// The main thread's view of the channels, and the choice of the channel a
// new sound takes. It runs ahead of the mixer (which applies the same
// changes a latency later), so it never waits for it: a one-shot counts as
// free once the mixer says that it played out.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

namespace fsound {

struct ChannelState {
    bool busy = false;            // started and neither stopped nor replaced
    bool oneShot = false;         // its sample does not loop
    std::uint32_t noteId = 0;     // the mixer publishes it when a one-shot ends
    int priority = 0;             // 0..255
    std::uint64_t startOrder = 0; // larger: started later
};

struct ChannelAllocator {
    std::vector<ChannelState> channels;
    // Per channel, the noteId of the last one-shot that played out there,
    // as the mixer publishes it (0: none yet); channels.size() of them.
    const std::atomic<std::uint32_t>* endedNotes = nullptr;
    std::uint32_t nextNoteId = 1;      // never 0, which means "no note ended yet"
    std::uint64_t nextStartOrder = 1;
};

// `count` channels, all free, over the mixer's `endedNotes`.
ChannelAllocator MakeChannelAllocator(int count, const std::atomic<std::uint32_t>* endedNotes);

// True when `channel` (0..count-1) holds nothing: never used, stopped, or a
// one-shot that has played out.
bool ChannelIsFree(const ChannelAllocator& allocator, int channel);

// The channel for a sound of `priority`: the lowest-numbered free one;
// else the busy one of lowest priority, the oldest first, unless that one
// outranks `priority`; else -1.
int ChooseChannel(const ChannelAllocator& allocator, int priority);

// Marks `channel` busy with a new sound of `priority`; returns the note id
// the mixer will publish when it is a one-shot (`oneShot`) that ends.
std::uint32_t TakeChannel(ChannelAllocator& allocator, int channel, int priority, bool oneShot);

}  // namespace fsound
