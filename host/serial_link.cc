#include "serial_link.h"

#include <cstdio>
#include <utility>

#include "run_end.h"

namespace vexlo {

std::string port_name = "COM1";
std::uint8_t serial_byte = 0;

namespace {

std::unique_ptr<SerialPort>& port() {
  static std::unique_ptr<SerialPort> the_port = make_system_serial_port();
  return the_port;
}

// A failure inside the link: its text, the port put back, the end of the run. The ROM image
// file stays on disk.
[[noreturn]] void link_failure(const char* text) {
  std::fputs(text, stderr);
  restore_port();
  end_run();
}

}  // namespace

void use_serial_port(std::unique_ptr<SerialPort> replacement) { port() = std::move(replacement); }

int open_port() {
  switch (port()->open(port_name)) {
    case SerialPort::OpenResult::kOpened:
      return 0;
    case SerialPort::OpenResult::kCannotOpen:
      std::fprintf(stderr, "Can't open %s.\n", port_name.c_str());
      return -1;
    case SerialPort::OpenResult::kSettingsRefused:
      break;
  }
  return -1;
}

void restore_port() { port()->restore_and_close(); }

void send_byte(std::uint8_t value) {
  serial_byte = value;
  if (!port()->write(&serial_byte, 1, kByteTimeout)) link_failure("write error\n");
}

bool write_bulk(const std::uint8_t* data, std::size_t size) {
  return port()->write(data, size, kByteTimeout);
}

int poll_byte() {
  switch (port()->read(&serial_byte)) {
    case SerialPort::ReadResult::kByte:
      return 1;
    case SerialPort::ReadResult::kNothing:
      return 0;
    case SerialPort::ReadResult::kFailed:
      break;
  }
  link_failure("read error\n");
}

int wait_byte() {
  const auto deadline = std::chrono::steady_clock::now() + kByteTimeout;
  while (poll_byte() == 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) link_failure("read timeout\n");
    switch (port()->wait_readable(left)) {
      case SerialPort::WaitResult::kReadable:
      case SerialPort::WaitResult::kTimedOut:  // the deadline test above decides
        break;
      case SerialPort::WaitResult::kFailed:
        link_failure("read error\n");
    }
  }
  return serial_byte;
}

void expect_byte(std::uint8_t received, std::uint8_t expected) {
  if (received == expected) return;
  std::fprintf(stderr, "H8 data %02X ignore!\n", received);
  restore_port();
  end_run();
}

void pause_ms(unsigned ms) { port()->pause(std::chrono::milliseconds(ms)); }

}  // namespace vexlo
