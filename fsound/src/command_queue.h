// A fixed-capacity, lock-free, single-producer single-consumer queue of the
// mixer's commands: the main thread pushes, the audio callback (or, offline,
// the render call) peeks and pops. Nothing allocates after InitCommandQueue.
#pragma once

#include <atomic>
#include <cstddef>
#include <vector>

#include "mixer.h"

namespace fsound {

struct CommandQueue {
    std::vector<Command> slots;          // capacity = slots.size(), a power of two
    std::size_t mask = 0;                // slots.size() - 1
    std::atomic<std::size_t> head{0};    // next slot to read; written by the consumer
    std::atomic<std::size_t> tail{0};    // next slot to write; written by the producer
};

// Makes room for `capacity` commands (rounded up to a power of two, at least
// 2) and empties the queue. Not to be called while either side uses it.
inline void InitCommandQueue(CommandQueue& queue, std::size_t capacity) {
    std::size_t size = 2;
    while (size < capacity) size *= 2;
    queue.slots.assign(size, Command{});
    queue.mask = size - 1;
    queue.head.store(0, std::memory_order_relaxed);
    queue.tail.store(0, std::memory_order_relaxed);
}

// Producer side: how many more commands fit now.
inline std::size_t FreeCommandSlots(const CommandQueue& queue) {
    const std::size_t tail = queue.tail.load(std::memory_order_relaxed);
    const std::size_t head = queue.head.load(std::memory_order_acquire);
    return queue.slots.size() - (tail - head);
}

// Producer side: appends `command`; false (and nothing queued) when full.
inline bool PushCommand(CommandQueue& queue, const Command& command) {
    const std::size_t tail = queue.tail.load(std::memory_order_relaxed);
    const std::size_t head = queue.head.load(std::memory_order_acquire);
    if (tail - head == queue.slots.size()) return false;
    queue.slots[tail & queue.mask] = command;
    queue.tail.store(tail + 1, std::memory_order_release);
    return true;
}

// Consumer side: the oldest command, or null when the queue is empty. It
// stays valid until PopCommand.
inline const Command* PeekCommand(const CommandQueue& queue) {
    const std::size_t head = queue.head.load(std::memory_order_relaxed);
    const std::size_t tail = queue.tail.load(std::memory_order_acquire);
    if (head == tail) return nullptr;
    return &queue.slots[head & queue.mask];
}

// Consumer side: drops the oldest command (the queue must not be empty).
inline void PopCommand(CommandQueue& queue) {
    const std::size_t head = queue.head.load(std::memory_order_relaxed);
    queue.head.store(head + 1, std::memory_order_release);
}

}  // namespace fsound
