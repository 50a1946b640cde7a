// No output device: a build for a host whose sound is not ours to open (the
// browser's, where an AudioWorklet pulls the offline mix). Init without
// offline mode fails there as it does on a machine without sound output.
#include "output_device.h"

namespace fsound {

std::vector<OutputBackend> OutputBackendsToTry() { return {}; }

int BlockFramesFor(OutputBackend, int) { return 16; }

bool OpenOutputDevice(OutputDevice&, OutputBackend, int, RenderCallback, void*) { return false; }

void CloseOutputDevice(OutputDevice&) {}

void FlushOutputDevice(OutputDevice&, std::atomic<bool>*) {}

void WaitForAudioThread(unsigned) {}

}  // namespace fsound
