// The download stage: every block of the ROM image that is not blank goes to the writing
// program as its block number (1 or 2 bytes, high byte first) and its data, and the host waits
// for the one-byte reply: 'S' accepted, anything else refused. Stop-and-wait, no checksum, no
// end marker.
#pragma once

namespace vexlo {

// Sends the blocks; at the end closes and deletes the ROM image file, prints the outcome and
// restores the port. Returns 0 when every block sent was accepted, -1 after the first refusal.
int download_blocks();

}  // namespace vexlo
