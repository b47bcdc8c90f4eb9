// The serial link: the host's one channel to the chip. One port per run, opened by open_port()
// and closed by restore_port(). Every failure of a byte operation is fatal: one text on
// standard error, restore_port(), and the end of the run with status -1; these exits leave the
// ROM image file on disk.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "serial_port.h"

namespace vexlo {

// The device name, as typed; "COM1" until the command line names another.
extern std::string port_name;

// The single buffer of every one-byte transfer: the last byte sent or received.
extern std::uint8_t serial_byte;

// Longest wait for a byte from the chip, or for the device to take a byte, before the run ends.
// The longest legitimate wait (a block that runs to its attempt limit) is about one second.
inline constexpr std::chrono::milliseconds kByteTimeout{5000};

// Replaces the device behind the link (tests); the default is the platform's.
void use_serial_port(std::unique_ptr<SerialPort> port);

// Opens and sets up the port named by port_name. Returns 0 when it is open and set up; -1
// otherwise, having printed "Can't open %s.\n" when the device would not open, and nothing
// when it opened but refused the settings (it is closed again then).
int open_port();

// Writes the saved line settings back and closes the port.
void restore_port();

// Writes one byte (kept in serial_byte); returns only when it has been written.
void send_byte(std::uint8_t value);

// Writes `size` bytes in one write; false if the device reports a failure.
bool write_bulk(const std::uint8_t* data, std::size_t size);

// Reads a byte into serial_byte if one has arrived; returns 1 or 0 without waiting.
int poll_byte();

// Returns the next received byte, 0 to 255, waiting for it at most kByteTimeout.
int wait_byte();

// Returns when received == expected; otherwise prints "H8 data %02X ignore!\n" and ends the run.
void expect_byte(std::uint8_t received, std::uint8_t expected);

// Pauses for about `ms` milliseconds.
void pause_ms(unsigned ms);

}  // namespace vexlo
