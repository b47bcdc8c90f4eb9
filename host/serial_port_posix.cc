// The serial device on Linux and macOS: termios on a file descriptor.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "serial_port.h"

namespace vexlo {

namespace {

constexpr speed_t kLineSpeed = B19200;

// 8 data bits, no parity, one stop bit, receiver on, modem status lines ignored; raw input and
// output; no hardware or software flow control; a read returns at once with what has arrived.
termios link_settings(const termios& found) {
  termios t = found;
  cfmakeraw(&t);
  t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY | INPCK | ISTRIP);
  t.c_iflag |= IGNBRK;
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB);
#ifdef CRTSCTS
  t.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
#endif
  t.c_cflag |= CS8 | CREAD | CLOCAL;
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  cfsetispeed(&t, kLineSpeed);
  cfsetospeed(&t, kLineSpeed);
  return t;
}

class PosixSerialPort final : public SerialPort {
 public:
  ~PosixSerialPort() override {
    if (fd_ >= 0) ::close(fd_);
  }

  OpenResult open(const std::string& name) override {
    fd_ = ::open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd_ < 0) return OpenResult::kCannotOpen;
    termios wanted;
    const bool set_up = ::tcgetattr(fd_, &saved_) == 0 && ::ioctl(fd_, TIOCEXCL) == 0 &&
                        (wanted = link_settings(saved_), ::tcsetattr(fd_, TCSANOW, &wanted) == 0);
    if (!set_up) {
      close_fd();
      return OpenResult::kSettingsRefused;
    }
    // DTR and RTS on for as long as the port is open. A pseudo-terminal has no modem lines;
    // that is not a failure.
    int lines = TIOCM_DTR | TIOCM_RTS;
    (void)::ioctl(fd_, TIOCMBIS, &lines);
    return OpenResult::kOpened;
  }

  void restore_and_close() override {
    if (fd_ < 0) return;
    (void)::tcsetattr(fd_, TCSANOW, &saved_);
    close_fd();
  }

  bool write(const std::uint8_t* data, std::size_t size, std::chrono::milliseconds limit) override {
    while (size > 0) {
      const ssize_t n = ::write(fd_, data, size);
      if (n > 0) {
        data += n;
        size -= static_cast<std::size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
      if (poll_for(POLLOUT, limit) != WaitResult::kReadable) return false;
    }
    return true;
  }

  ReadResult read(std::uint8_t* byte) override {
    for (;;) {
      const ssize_t n = ::read(fd_, byte, 1);
      if (n == 1) return ReadResult::kByte;
      if (n == 0) return ReadResult::kNothing;
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return ReadResult::kNothing;
      return ReadResult::kFailed;
    }
  }

  WaitResult wait_readable(std::chrono::milliseconds limit) override {
    return poll_for(POLLIN, limit);
  }

  void pause(std::chrono::milliseconds ms) override { std::this_thread::sleep_for(ms); }

 private:
  // Waits for `events` on the port. A hang-up or error on the line (the device unplugged, the
  // other end of a pseudo-terminal closed) is a failure.
  WaitResult poll_for(short events, std::chrono::milliseconds limit) {
    pollfd p{fd_, events, 0};
    int r;
    do {
      r = ::poll(&p, 1, static_cast<int>(limit.count()));
    } while (r < 0 && errno == EINTR);
    if (r < 0) return WaitResult::kFailed;
    if (r == 0) return WaitResult::kTimedOut;
    // A line that has hung up reports itself readable (and writable) for ever while reads find
    // nothing: it has failed once the bytes that arrived before the hang-up have been read.
    if ((p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0 && bytes_waiting() == 0) {
      return WaitResult::kFailed;
    }
    return WaitResult::kReadable;
  }

  int bytes_waiting() const {
    int n = 0;
    return ::ioctl(fd_, FIONREAD, &n) == 0 ? n : 0;
  }

  void close_fd() {
    ::close(fd_);
    fd_ = -1;
  }

  int fd_ = -1;
  termios saved_{};
};

}  // namespace

std::unique_ptr<SerialPort> make_system_serial_port() {
  return std::make_unique<PosixSerialPort>();
}

}  // namespace vexlo
