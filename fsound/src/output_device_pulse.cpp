// The PulseAudio backend: one playback stream on libpulse's threaded main
// loop (PipeWire's PulseAudio server serves it the same way). The server
// holds two blocks and asks for one each time one has played, so the loop's
// thread wakes once a block (about eight times a second) where SDL's
// driver wakes for every quarter of a block four times as short.
//
// Every callback below runs on the loop's thread with the loop locked; the
// main thread locks it to open and close.
#include <pulse/pulseaudio.h>

#include <errno.h>  // program_invocation_short_name (glibc)

#include <atomic>
#include <cstdint>
#include <vector>

#include "engine.h"
#include "output_device.h"

namespace fsound {

struct PulseOutput {
    pa_threaded_mainloop* loop = nullptr;
    pa_context* context = nullptr;
    pa_stream* stream = nullptr;
    OutputDevice* device = nullptr;
    int rate = 0;
    std::vector<float> block;        // one block, rendered then copied to the server
    std::size_t blockBytes = 0;
    bool waitTimedOut = false;       // the latest bounded wait's deadline passed
    bool closing = false;            // Close has begun: nothing more is written
    bool playing = false;            // the stream has been ready
    pa_time_event* pacer = nullptr;  // the server is gone: renders in its place
    pa_usec_t nextPaceUs = 0;        // when the pacer renders next (pa_rtclock_now's clock)
    bool operationDone = false;
};

namespace {

// How long opening may wait for the server to answer (a server that accepts
// the connection and then says nothing is no server), and how long Close
// waits for the flush of what the server holds.
constexpr pa_usec_t kOpenWaitUs = 1500000;
constexpr pa_usec_t kFlushWaitUs = 500000;

pa_usec_t BlockUs(const PulseOutput& out) {
    return static_cast<pa_usec_t>(out.device->blockFrames) * 1000000 / static_cast<pa_usec_t>(out.rate);
}

void RenderOneBlock(PulseOutput& out) {
    out.device->render(out.device->user, out.block.data(), out.device->blockFrames, MonotonicNowNs());
}

// The server has gone: the blocks are rendered at their pace and dropped,
// so that calls keep being applied and the program's timing goes on as
// with a device that plays (SDL does the same with a device it lost).
void OnPace(pa_mainloop_api*, pa_time_event* event, const struct timeval*, void* user) {
    PulseOutput& out = *static_cast<PulseOutput*>(user);
    if (out.closing) return;
    RenderOneBlock(out);
    out.nextPaceUs += BlockUs(out);
    // A program stopped and continued starts the pace again from now,
    // rather than rendering what it missed in a burst.
    const pa_usec_t now = pa_rtclock_now();
    if (out.nextPaceUs + 4 * BlockUs(out) < now) out.nextPaceUs = now + BlockUs(out);
    pa_context_rttime_restart(out.context, event, out.nextPaceUs);
}

void StartPacing(PulseOutput& out) {
    if (out.pacer != nullptr || out.closing || !out.playing) return;
    out.nextPaceUs = pa_rtclock_now() + BlockUs(out);
    out.pacer = pa_context_rttime_new(out.context, out.nextPaceUs, OnPace, &out);
}

void OnContextState(pa_context* context, void* user) {
    PulseOutput& out = *static_cast<PulseOutput*>(user);
    const pa_context_state_t state = pa_context_get_state(context);
    if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED) StartPacing(out);
    pa_threaded_mainloop_signal(out.loop, 0);
}

void OnStreamState(pa_stream* stream, void* user) {
    PulseOutput& out = *static_cast<PulseOutput*>(user);
    const pa_stream_state_t state = pa_stream_get_state(stream);
    if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) StartPacing(out);
    pa_threaded_mainloop_signal(out.loop, 0);
}

// The server asks for room to be filled: whole blocks, as many as fit, so
// that every render is one block and the device clock sees blocks a block
// apart (a start or a refill after a stall comes as a burst).
void OnWritable(pa_stream* stream, std::size_t, void* user) {
    PulseOutput& out = *static_cast<PulseOutput*>(user);
    if (out.closing || out.pacer != nullptr) return;
    for (;;) {
        const std::size_t writable = pa_stream_writable_size(stream);
        if (writable == static_cast<std::size_t>(-1) || writable < out.blockBytes) return;
        RenderOneBlock(out);
        if (pa_stream_write(stream, out.block.data(), out.blockBytes, nullptr, 0, PA_SEEK_RELATIVE) < 0) return;
    }
}

void OnTimeout(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* user) {
    PulseOutput& out = *static_cast<PulseOutput*>(user);
    out.waitTimedOut = true;
    pa_threaded_mainloop_signal(out.loop, 0);
}

void OnOperationDone(pa_stream*, int, void* user) {
    PulseOutput& out = *static_cast<PulseOutput*>(user);
    out.operationDone = true;
    pa_threaded_mainloop_signal(out.loop, 0);
}

// Waits (the loop locked) until `done` says so or `waitUs` has passed;
// true when done.
template <typename Done>
bool WaitFor(PulseOutput& out, pa_usec_t waitUs, Done done) {
    out.waitTimedOut = false;
    pa_time_event* timeout = pa_context_rttime_new(out.context, pa_rtclock_now() + waitUs, OnTimeout, &out);
    if (timeout == nullptr) return false;
    while (!done() && !out.waitTimedOut) pa_threaded_mainloop_wait(out.loop);
    pa_threaded_mainloop_get_api(out.loop)->time_free(timeout);
    return done();
}

// Everything Open made, in reverse; the loop is stopped first, so no
// callback runs while the objects go.
void Release(PulseOutput* out) {
    if (out->loop != nullptr) pa_threaded_mainloop_stop(out->loop);
    if (out->pacer != nullptr) pa_threaded_mainloop_get_api(out->loop)->time_free(out->pacer);
    if (out->stream != nullptr) {
        pa_stream_set_write_callback(out->stream, nullptr, nullptr);
        pa_stream_set_state_callback(out->stream, nullptr, nullptr);
        pa_stream_unref(out->stream);
    }
    if (out->context != nullptr) {
        pa_context_set_state_callback(out->context, nullptr, nullptr);
        pa_context_disconnect(out->context);
        pa_context_unref(out->context);
    }
    if (out->loop != nullptr) pa_threaded_mainloop_free(out->loop);
    delete out;
}

// The program's own name for the server's list of clients ("fenk",
// "fenk-live").
const char* ProgramName() {
    return program_invocation_short_name != nullptr && *program_invocation_short_name != '\0'
               ? program_invocation_short_name
               : "fsound";
}

bool Connect(PulseOutput& out) {
    pa_proplist* properties = pa_proplist_new();
    pa_proplist_sets(properties, PA_PROP_APPLICATION_NAME, ProgramName());
    pa_proplist_sets(properties, PA_PROP_MEDIA_ROLE, "music");
    out.context = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(out.loop), ProgramName(), properties);
    pa_proplist_free(properties);
    if (out.context == nullptr) return false;
    pa_context_set_state_callback(out.context, OnContextState, &out);
    // No server of our own is started: without one, SDL plays.
    if (pa_context_connect(out.context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) return false;
    return WaitFor(out, kOpenWaitUs, [&out] {
        const pa_context_state_t state = pa_context_get_state(out.context);
        return state == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(state);
    }) && pa_context_get_state(out.context) == PA_CONTEXT_READY;
}

bool OpenStream(PulseOutput& out) {
    pa_sample_spec spec{};
    spec.format = PA_SAMPLE_FLOAT32NE;
    spec.rate = static_cast<std::uint32_t>(out.rate);
    spec.channels = 2;
    pa_channel_map map;
    pa_channel_map_init_stereo(&map);
    out.stream = pa_stream_new(out.context, "Music", &spec, &map);
    if (out.stream == nullptr) return false;
    pa_stream_set_state_callback(out.stream, OnStreamState, &out);
    pa_stream_set_write_callback(out.stream, OnWritable, &out);
    pa_buffer_attr attributes{};
    attributes.maxlength = static_cast<std::uint32_t>(-1);
    attributes.tlength = static_cast<std::uint32_t>(2 * out.blockBytes);
    attributes.minreq = static_cast<std::uint32_t>(out.blockBytes);
    // Playing never waits for the buffer to fill again after an underrun:
    // the server goes on as a sound card does, so the frames written keep
    // their places in time and the device clock stays right.
    attributes.prebuf = 0;
    attributes.fragsize = static_cast<std::uint32_t>(-1);
    // ADJUST_LATENCY: the two blocks are the whole latency, the sink's
    // included, so the sink takes them a block at a time rather than
    // draining the buffer in one go.
    const pa_stream_flags_t flags = PA_STREAM_ADJUST_LATENCY;
    if (pa_stream_connect_playback(out.stream, nullptr, &attributes, flags, nullptr, nullptr) < 0) return false;
    if (!WaitFor(out, kOpenWaitUs, [&out] {
            const pa_stream_state_t state = pa_stream_get_state(out.stream);
            return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
        }) ||
        pa_stream_get_state(out.stream) != PA_STREAM_READY) {
        return false;
    }
    // Only whole blocks are written: a server that keeps less than one
    // would never ask for one.
    const pa_buffer_attr* granted = pa_stream_get_buffer_attr(out.stream);
    return granted != nullptr && granted->tlength >= out.blockBytes;
}

}  // namespace

bool OpenPulseOutput(OutputDevice& device, int rate) {
    auto* out = new PulseOutput;
    out->device = &device;
    out->rate = rate;
    out->block.resize(2 * static_cast<std::size_t>(device.blockFrames));
    out->blockBytes = out->block.size() * sizeof(float);
    out->loop = pa_threaded_mainloop_new();
    if (out->loop == nullptr) {
        Release(out);
        return false;
    }
    bool opened = pa_threaded_mainloop_start(out->loop) >= 0;
    if (opened) {
        pa_threaded_mainloop_lock(out->loop);
        opened = Connect(*out) && OpenStream(*out);
        out->playing = opened;
        pa_threaded_mainloop_unlock(out->loop);
    }
    if (!opened) {
        Release(out);
        return false;
    }
    device.pulse = out;
    return true;
}

void FlushPulseOutput(OutputDevice& device, std::atomic<bool>* dropped) {
    PulseOutput* out = device.pulse;
    if (out == nullptr) return;
    pa_threaded_mainloop_lock(out->loop);
    // Set under the loop's lock, before the flush goes to the server: a
    // block rendered from here on is written after the flush, into the
    // emptied buffer, and plays next.
    if (!out->closing && out->pacer == nullptr && pa_stream_get_state(out->stream) == PA_STREAM_READY) {
        dropped->store(true, std::memory_order_release);
        if (pa_operation* flush = pa_stream_flush(out->stream, nullptr, nullptr)) pa_operation_unref(flush);
    }
    pa_threaded_mainloop_unlock(out->loop);
}

void ClosePulseOutput(OutputDevice& device) {
    PulseOutput* out = device.pulse;
    if (out == nullptr) return;
    pa_threaded_mainloop_lock(out->loop);
    out->closing = true;
    // What the server holds (up to two blocks) is dropped, not played out:
    // a stop is silent at once.
    if (pa_stream_get_state(out->stream) == PA_STREAM_READY) {
        out->operationDone = false;
        pa_operation* flush = pa_stream_flush(out->stream, OnOperationDone, out);
        if (flush != nullptr) {
            WaitFor(*out, kFlushWaitUs, [out] { return out->operationDone; });
            pa_operation_unref(flush);
        }
        pa_stream_disconnect(out->stream);
    }
    pa_threaded_mainloop_unlock(out->loop);
    Release(out);
    device.pulse = nullptr;
}

}  // namespace fsound
