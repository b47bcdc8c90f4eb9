/* Counts the bytes a host program puts on and takes off its serial line, for the end-to-end
 * benchmark's line limit. Preloaded into the host (LD_PRELOAD); wraps write() and read() and
 * counts what they transferred on terminal devices other than the standard streams, which for
 * the writer programs is the one serial port. At exit it writes one line to the file named by
 * E2E_LINECOUNT_OUT:
 *
 *   <bytes written> <bytes read> <zero bytes written before the first other byte>
 *
 * The last figure is the number of 0x00 bytes of the connection bursts, which depends on the
 * host's timing and so cannot be derived from the protocol.
 *
 * Only calls that go through the dynamic symbol are seen; the C library's own buffered file
 * output does not, which is fine here since it never writes to the port. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

static ssize_t (*real_write)(int, const void *, size_t);
static ssize_t (*real_read)(int, void *, size_t);
static unsigned long long bytes_written, bytes_read, leading_zeros;
static int seen_nonzero;

/* The check costs a system call per transfer; the writer programs move one byte per call at
 * 19200 bit/s, so this stays far below a bit time. */
static int is_port(int fd) {
  int saved = errno;
  int port = fd > 2 && isatty(fd);
  errno = saved;
  return port;
}

static void count_leading_zeros(const unsigned char *data, size_t n) {
  for (size_t i = 0; i < n && !seen_nonzero; ++i) {
    if (data[i] == 0)
      ++leading_zeros;
    else
      seen_nonzero = 1;
  }
}

ssize_t write(int fd, const void *data, size_t n) {
  if (!real_write) real_write = (ssize_t(*)(int, const void *, size_t))dlsym(RTLD_NEXT, "write");
  ssize_t r = real_write(fd, data, n);
  if (r > 0 && is_port(fd)) {
    bytes_written += (unsigned long long)r;
    count_leading_zeros((const unsigned char *)data, (size_t)r);
  }
  return r;
}

ssize_t read(int fd, void *data, size_t n) {
  if (!real_read) real_read = (ssize_t(*)(int, void *, size_t))dlsym(RTLD_NEXT, "read");
  ssize_t r = real_read(fd, data, n);
  if (r > 0 && is_port(fd)) bytes_read += (unsigned long long)r;
  return r;
}

__attribute__((destructor)) static void report(void) {
  const char *path = getenv("E2E_LINECOUNT_OUT");
  if (!path) return;
  FILE *out = fopen(path, "w");
  if (!out) return;
  fprintf(out, "%llu %llu %llu\n", bytes_written, bytes_read, leading_zeros);
  fclose(out);
}
