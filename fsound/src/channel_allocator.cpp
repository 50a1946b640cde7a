#include "channel_allocator.h"

namespace fsound {

ChannelAllocator MakeChannelAllocator(int count, const std::atomic<std::uint32_t>* endedNotes) {
    ChannelAllocator allocator;
    allocator.channels.assign(static_cast<std::size_t>(count), ChannelState{});
    allocator.endedNotes = endedNotes;
    return allocator;
}

bool ChannelIsFree(const ChannelAllocator& allocator, int channel) {
    const ChannelState& state = allocator.channels[static_cast<std::size_t>(channel)];
    if (!state.busy) return true;
    return state.oneShot &&
           allocator.endedNotes[channel].load(std::memory_order_acquire) == state.noteId;
}

int ChooseChannel(const ChannelAllocator& allocator, int priority) {
    const int count = static_cast<int>(allocator.channels.size());
    for (int channel = 0; channel < count; ++channel) {
        if (ChannelIsFree(allocator, channel)) return channel;
    }
    int chosen = -1;
    for (int channel = 0; channel < count; ++channel) {
        const ChannelState& state = allocator.channels[static_cast<std::size_t>(channel)];
        if (chosen < 0) {
            chosen = channel;
            continue;
        }
        const ChannelState& best = allocator.channels[static_cast<std::size_t>(chosen)];
        if (state.priority < best.priority ||
            (state.priority == best.priority && state.startOrder < best.startOrder)) {
            chosen = channel;
        }
    }
    if (chosen >= 0 && allocator.channels[static_cast<std::size_t>(chosen)].priority > priority) return -1;
    return chosen;
}

std::uint32_t TakeChannel(ChannelAllocator& allocator, int channel, int priority, bool oneShot) {
    ChannelState& state = allocator.channels[static_cast<std::size_t>(channel)];
    state.busy = true;
    state.oneShot = oneShot;
    state.noteId = allocator.nextNoteId++;
    if (allocator.nextNoteId == 0) allocator.nextNoteId = 1;
    state.priority = priority;
    state.startOrder = allocator.nextStartOrder++;
    return state.noteId;
}

}  // namespace fsound
