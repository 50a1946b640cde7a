// The link library's calls for the page's "Send to calculator" (send.js):
// the page's WebUSB loop drives a tilink transfer in the module, as
// fenk-send's libusb loop drives it, so that both send the same packets and
// say the same words. One transfer at a time; times are the page's
// performance.now() in milliseconds. Bytes go in through fenk_link_input;
// every answer is JSON at fenk_link_result.
#pragma once

#include <cstddef>
#include <cstdint>

#include "web/engine/web_module.h"

extern "C" {

// A buffer of `size` bytes for the next call's input; its address.
FENK_WEB_EXPORT(fenk_link_input) std::uint8_t* fenk_link_input(std::size_t size);
// The latest call's JSON answer, and its length in bytes.
FENK_WEB_EXPORT(fenk_link_result) const char* fenk_link_result();
FENK_WEB_EXPORT(fenk_link_result_length) std::size_t fenk_link_result_length();

// The devices the link library sends to, for the browser's chooser and to
// tell a chosen one:
//   [{"vendorId":1105,"productId":57347,"name":"TI-84 Plus",
//     "calculator":"TI-84 Plus","interface":0,"configuration":1}, ...]
FENK_WEB_EXPORT(fenk_link_devices) void fenk_link_devices();

// Starts sending the program file held in the `size` input bytes (the
// .8xp "Download .8xp" gives) to the device of that USB id. 1 with
// {"ok":true,"name":"ODETOJOY","bytes":306}; 0 with {"ok":false,
// "error":"why"} (no program file, a device the library does not know).
FENK_WEB_EXPORT(fenk_link_start) int fenk_link_start(std::size_t size, int vendorId, int productId, double nowMs);

// What the page does next, with the progress so far ("sent" and "total":
// the variable's bytes acknowledged and in all):
//   {"step":"write","endpoint":2,"data":[0,0,0,4,...]}: one bulk transfer
//     (empty data: a zero-length packet), then fenk_link_wrote;
//   {"step":"read","endpoint":129,"max":64,"timeout":MS}: one bulk
//     transfer in, then fenk_link_read or fenk_link_read_timed_out;
//   {"step":"wait","ms":MS}: nothing for MS ms, then fenk_link_next again;
//   {"step":"done","message":"Sent ODETOJOY to the TI-84 Plus."};
//   {"step":"failed","failure":"OutOfMemory","message":the library's reason}.
FENK_WEB_EXPORT(fenk_link_next) void fenk_link_next(double nowMs);
// The write's outcome: `ok` 0 when the transfer failed.
FENK_WEB_EXPORT(fenk_link_wrote) void fenk_link_wrote(int ok, double nowMs);
// The read got the `size` input bytes (possibly none).
FENK_WEB_EXPORT(fenk_link_read) void fenk_link_read(std::size_t size, double nowMs);
// The read got nothing within its time.
FENK_WEB_EXPORT(fenk_link_read_timed_out) void fenk_link_read_timed_out(double nowMs);
// The read failed: the device is gone.
FENK_WEB_EXPORT(fenk_link_read_failed) void fenk_link_read_failed(double nowMs);

}  // extern "C"
