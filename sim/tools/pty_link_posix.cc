#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>

#include "pty_link.h"

namespace h8sim {

namespace {

unsigned speed_to_rate(speed_t speed) {
  struct Entry {
    speed_t speed;
    unsigned rate;
  };
  static constexpr Entry kRates[] = {
      {B50, 50},       {B75, 75},         {B110, 110},       {B134, 134},       {B150, 150},
      {B200, 200},     {B300, 300},       {B600, 600},       {B1200, 1200},     {B1800, 1800},
      {B2400, 2400},   {B4800, 4800},     {B9600, 9600},     {B19200, 19200},   {B38400, 38400},
      {B57600, 57600}, {B115200, 115200}, {B230400, 230400}, {B460800, 460800}, {B921600, 921600},
  };
  for (const Entry& e : kRates) {
    if (e.speed == speed) return e.rate;
  }
  return 0;
}

std::string os_error(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

}  // namespace

PtyLink::~PtyLink() {
  if (master_ >= 0) ::close(master_);
  if (!link_path_.empty()) ::unlink(link_path_.c_str());
}

bool PtyLink::open(const std::string& link_path, std::string* error) {
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (master_ < 0) {
    *error = os_error("posix_openpt");
    return false;
  }
  if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
    *error = os_error("grantpt/unlockpt");
    return false;
  }
  const char* slave = ::ptsname(master_);
  if (slave == nullptr) {
    *error = os_error("ptsname");
    return false;
  }
  // Raw from the start: the line must carry bytes, not lines of text, whatever the host sets.
  termios tio{};
  if (::tcgetattr(master_, &tio) == 0) {
    ::cfmakeraw(&tio);
    ::cfsetspeed(&tio, B19200);
    ::tcsetattr(master_, TCSANOW, &tio);
  }
  struct stat st {};
  if (::lstat(link_path.c_str(), &st) == 0) {
    if (!S_ISLNK(st.st_mode)) {
      *error = link_path + " exists and is not a symbolic link";
      return false;
    }
    ::unlink(link_path.c_str());
  }
  if (::symlink(slave, link_path.c_str()) != 0) {
    *error = os_error(("symlink " + link_path).c_str());
    return false;
  }
  link_path_ = link_path;
  return true;
}

bool PtyLink::host_present() const {
  pollfd p{master_, POLLIN, 0};
  if (::poll(&p, 1, 0) < 0) return false;
  return !(p.revents & POLLHUP);
}

unsigned PtyLink::bit_rate() const {
  termios tio{};
  if (::tcgetattr(master_, &tio) != 0) return 0;
  return speed_to_rate(::cfgetospeed(&tio));
}

long PtyLink::read_some(std::uint8_t* buffer, std::size_t size) {
  ssize_t n = ::read(master_, buffer, size);
  if (n >= 0) return n;
  if (errno == EAGAIN || errno == EINTR) return 0;
  return -1;  // EIO: no process has the slave open any more
}

long PtyLink::write_some(const std::uint8_t* data, std::size_t size) {
  ssize_t n = ::write(master_, data, size);
  if (n >= 0) return n;
  if (errno == EAGAIN || errno == EINTR) return 0;
  return -1;
}

void PtyLink::wait(int timeout_ms, bool want_write) const {
  pollfd p{master_, static_cast<short>(POLLIN | (want_write ? POLLOUT : 0)), 0};
  ::poll(&p, 1, timeout_ms);
}

void PtyLink::wait_us(long timeout_us, bool want_write) const {
  pollfd p{master_, static_cast<short>(POLLIN | (want_write ? POLLOUT : 0)), 0};
  const timespec timeout{timeout_us / 1000000, (timeout_us % 1000000) * 1000};
  ::ppoll(&p, 1, &timeout, nullptr);
}

}  // namespace h8sim
