// The operating system's serial device, behind a small interface: one implementation per
// platform (serial_port_posix.cc, serial_port_win32.cc) and fakes in tests. The serial link
// (serial_link.h) keeps the protocol-level rules (texts, clean-up, time limits) above it.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace vexlo {

class SerialPort {
 public:
  enum class OpenResult {
    kOpened,           // open, settings saved and the link's settings applied
    kCannotOpen,       // the device could not be opened
    kSettingsRefused,  // it opened but refused to give or take its settings; closed again
  };
  enum class ReadResult { kByte, kNothing, kFailed };
  enum class WaitResult { kReadable, kTimedOut, kFailed };

  virtual ~SerialPort() = default;

  // Opens `name` as typed for reading and writing, for this process alone; saves the complete
  // line settings; sets 19200 bit/s, 8 data bits, no parity, one stop bit, raw transfer, no
  // flow control, DTR and RTS on, and reads that never wait.
  virtual OpenResult open(const std::string& name) = 0;

  // Writes the saved line settings back (ignoring the result) and closes the port.
  virtual void restore_and_close() = 0;

  // Writes all `size` bytes in order; false when the device reports a failure or takes none of
  // them for `limit`.
  virtual bool write(const std::uint8_t* data, std::size_t size,
                     std::chrono::milliseconds limit) = 0;

  // Reads one byte if one has arrived; never waits.
  virtual ReadResult read(std::uint8_t* byte) = 0;

  // Waits until a byte can be read, at most `limit`, without keeping a processor busy.
  virtual WaitResult wait_readable(std::chrono::milliseconds limit) = 0;

  // Pauses the thread for about `ms` milliseconds.
  virtual void pause(std::chrono::milliseconds ms) = 0;
};

// The platform's serial device.
std::unique_ptr<SerialPort> make_system_serial_port();

}  // namespace vexlo
