// Preloaded (LD_PRELOAD) into a host program to make its serial port fail on cue, where a pty
// cannot be made to fail by itself (a hung-up pty reads as "nothing arrived", never as an error).
//
// VEXLO_PORT_FAULT names the one call that fails, with EIO, on the port (a terminal above the
// standard streams):
//   "write"             the first write to the port (a burst of zeros while connecting)
//   "read"              the first read from the port
//   "write-after-sync"  the first write after the host has sent its first non-zero byte (0x55)
//   "read-after-sync"   the first read after that byte
// Every other call passes through unchanged.
#include <dlfcn.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

using ReadFn = ssize_t (*)(int, void*, size_t);
using WriteFn = ssize_t (*)(int, const void*, size_t);

bool sync_sent = false;
bool fault_done = false;

bool is_port(int fd) { return fd > 2 && isatty(fd); }

// True once for the call that the fault names.
bool fault_due(const char* call) {
  const char* fault = std::getenv("VEXLO_PORT_FAULT");
  if (fault == nullptr || fault_done) return false;
  const std::size_t length = std::strlen(call);
  if (std::strncmp(fault, call, length) != 0) return false;
  const char* rest = fault + length;
  const bool due = *rest == '\0' || (std::strcmp(rest, "-after-sync") == 0 && sync_sent);
  fault_done = due;
  return due;
}

}  // namespace

extern "C" ssize_t read(int fd, void* buffer, size_t count) {
  static const auto real = reinterpret_cast<ReadFn>(dlsym(RTLD_NEXT, "read"));
  if (is_port(fd) && fault_due("read")) {
    errno = EIO;
    return -1;
  }
  return real(fd, buffer, count);
}

extern "C" ssize_t write(int fd, const void* buffer, size_t count) {
  static const auto real = reinterpret_cast<WriteFn>(dlsym(RTLD_NEXT, "write"));
  if (!is_port(fd)) return real(fd, buffer, count);
  if (fault_due("write")) {
    errno = EIO;
    return -1;
  }
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  for (size_t i = 0; i < count && !sync_sent; ++i) sync_sent = bytes[i] != 0;
  return real(fd, buffer, count);
}
