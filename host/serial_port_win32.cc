// The serial device on Windows: the Win32 communications calls on a file handle.
#include <windows.h>

#include <cstddef>
#include <cstring>

#include "serial_port.h"

namespace vexlo {

namespace {

// The fourteen bit fields of a DCB from fBinary to fDummy2 share the 32-bit word that follows
// BaudRate. Keeping the bits of 0xFFFF9093 and setting those of 0x1091 gives: fBinary 1,
// fOutxCtsFlow 0, fOutxDsrFlow 0, fDtrControl DTR_CONTROL_ENABLE, fDsrSensitivity 0,
// fTXContinueOnXoff 1, fOutX 0, fInX 0, fErrorChar 0, fNull 0, fRtsControl RTS_CONTROL_ENABLE,
// fAbortOnError 0; fParity and fDummy2 stay as found.
constexpr std::size_t kDcbFlagWordOffset = offsetof(DCB, BaudRate) + sizeof(DWORD);
constexpr DWORD kDcbFlagsKept = 0xFFFF9093;
constexpr DWORD kDcbFlagsSet = 0x1091;
static_assert(offsetof(DCB, wReserved) == kDcbFlagWordOffset + sizeof(DWORD));

constexpr DWORD kLineSpeed = 19200;

// How long a wait polls without pausing before it starts to sleep between polls: replies
// to a block come within a few milliseconds, and the system's sleep granularity is coarse.
constexpr DWORD kBusyPollMs = 50;

void apply_link_settings(DCB& dcb) {
  dcb.BaudRate = kLineSpeed;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  DWORD flags;
  auto* raw = reinterpret_cast<unsigned char*>(&dcb);
  std::memcpy(&flags, raw + kDcbFlagWordOffset, sizeof flags);
  flags = (flags & kDcbFlagsKept) | kDcbFlagsSet;
  std::memcpy(raw + kDcbFlagWordOffset, &flags, sizeof flags);
}

// Reads return at once with what has arrived; writes have no time limit.
void apply_link_timeouts(COMMTIMEOUTS& t) {
  t.ReadIntervalTimeout = MAXDWORD;
  t.ReadTotalTimeoutMultiplier = 0;
  t.ReadTotalTimeoutConstant = 0;
  t.WriteTotalTimeoutMultiplier = 0;
  t.WriteTotalTimeoutConstant = 0;
}

class Win32SerialPort final : public SerialPort {
 public:
  ~Win32SerialPort() override {
    if (port_handle_ != INVALID_HANDLE_VALUE) CloseHandle(port_handle_);
  }

  OpenResult open(const std::string& name) override {
    port_handle_ = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (port_handle_ == INVALID_HANDLE_VALUE) return OpenResult::kCannotOpen;
    if (!set_line() || !set_timeouts()) {
      CloseHandle(port_handle_);
      port_handle_ = INVALID_HANDLE_VALUE;
      return OpenResult::kSettingsRefused;
    }
    return OpenResult::kOpened;
  }

  void restore_and_close() override {
    if (port_handle_ == INVALID_HANDLE_VALUE) return;
    SetCommState(port_handle_, &saved_dcb_);
    CloseHandle(port_handle_);
    port_handle_ = INVALID_HANDLE_VALUE;
  }

  bool write(const std::uint8_t* data, std::size_t size, std::chrono::milliseconds) override {
    DWORD written = 0;
    return WriteFile(port_handle_, data, static_cast<DWORD>(size), &written, nullptr) != 0;
  }

  ReadResult read(std::uint8_t* byte) override {
    DWORD count = 0;
    if (!ReadFile(port_handle_, byte, 1, &count, nullptr)) return ReadResult::kFailed;
    return count == 1 ? ReadResult::kByte : ReadResult::kNothing;
  }

  // The port's reads never wait, so waiting is polling: at full speed for a short while, then
  // with a pause of a millisecond between polls.
  WaitResult wait_readable(std::chrono::milliseconds limit) override {
    const ULONGLONG start = GetTickCount64();
    const auto limit_ms = static_cast<ULONGLONG>(limit.count());
    for (;;) {
      COMSTAT status{};
      DWORD errors = 0;
      if (!ClearCommError(port_handle_, &errors, &status)) return WaitResult::kReadable;
      if (status.cbInQue > 0) return WaitResult::kReadable;
      const ULONGLONG elapsed = GetTickCount64() - start;
      if (elapsed >= limit_ms) return WaitResult::kTimedOut;
      Sleep(elapsed < kBusyPollMs ? 0 : 1);
    }
  }

  void pause(std::chrono::milliseconds ms) override { Sleep(static_cast<DWORD>(ms.count())); }

 private:
  bool set_line() {
    if (!GetCommState(port_handle_, &work_dcb_)) return false;
    saved_dcb_ = work_dcb_;
    apply_link_settings(work_dcb_);
    return SetCommState(port_handle_, &work_dcb_) != 0;
  }

  bool set_timeouts() {
    if (!GetCommTimeouts(port_handle_, &port_timeouts_)) return false;
    apply_link_timeouts(port_timeouts_);
    return SetCommTimeouts(port_handle_, &port_timeouts_) != 0;
  }

  HANDLE port_handle_ = INVALID_HANDLE_VALUE;
  DCB saved_dcb_{};
  DCB work_dcb_{};
  COMMTIMEOUTS port_timeouts_{};
};

}  // namespace

std::unique_ptr<SerialPort> make_system_serial_port() {
  return std::make_unique<Win32SerialPort>();
}

}  // namespace vexlo
