// Bringing the chip's boot program into contact and loading the writing program into the
// chip's RAM through it.
//
// Bytes on the line (host → chip : chip → host):
//   256 × 0x00 per burst, up to 100 bursts : 0x00 once the boot program has matched our rate
//   0x55                                    : any number of 0x00, then 0xAA
//   0x04, 0x00 (program size 1024)          : each echoed
//   the 1024 bytes of the writing program   : each echoed; then 0xAA, and the program runs
#pragma once

namespace vexlo {

// Prints the connecting line, sends bursts of zeros until the boot program answers 0x00,
// exchanges 0x55 for 0xAA and prints the ready banner. Returns only on success; every failure
// prints its text, restores the port and ends the run.
void connect_chip();

// Sends the size and the 1024 bytes of the profile's writing program, checks every echo and
// waits for the boot program's 0xAA. Returns only on success.
void transfer_writer();

}  // namespace vexlo
