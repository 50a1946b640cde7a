// What the per-OS halves of tool_support give its shared half; internal to
// the tools' common library.
#pragma once

#include <cstddef>

namespace tools {

// Writes up to `size` bytes at `bytes` to `descriptor`: the count written,
// or -1 with errno set (EINTR already retried).
long WriteSome(int descriptor, const void* bytes, std::size_t size);

}  // namespace tools
