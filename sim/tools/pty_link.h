// The serial line of `h8sim serve` as the host sees it: a pseudo-terminal whose slave side is
// reachable through a symbolic link, so that a host program opens PATH as it would open a
// serial port. The simulator holds the master side.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace h8sim {

class PtyLink {
 public:
  PtyLink() = default;
  PtyLink(const PtyLink&) = delete;
  PtyLink& operator=(const PtyLink&) = delete;
  ~PtyLink();  // closes the master and removes the link

  // Opens a pseudo-terminal in raw mode and makes `link_path` a symbolic link to its slave,
  // replacing an existing symbolic link (but nothing else). False with *error on failure.
  bool open(const std::string& link_path, std::string* error);

  // Whether some process has the slave open now.
  bool host_present() const;
  // The bit rate the host has set on the line (termios of the slave); 0 if unknown.
  unsigned bit_rate() const;

  // Reads what the host has written, without waiting. Returns the byte count, 0 if nothing is
  // there, -1 once the host has closed the line.
  long read_some(std::uint8_t* buffer, std::size_t size);
  // Writes as much of `data` as the line takes now, without waiting; returns the count written
  // (0 when the host's input queue is full), -1 on a closed line.
  long write_some(const std::uint8_t* data, std::size_t size);

  // Waits up to `timeout_ms` (-1: no limit) for input from the host, for the host to go, for
  // room to write (when `want_write`), or for a signal. Returns at once if any is already so.
  void wait(int timeout_ms, bool want_write) const;
  // The same with a finer limit, in microseconds.
  void wait_us(long timeout_us, bool want_write) const;

 private:
  int master_ = -1;
  std::string link_path_;
};

}  // namespace h8sim
