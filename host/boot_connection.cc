#include "boot_connection.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

#include "profiles/chip_profile.h"
#include "run_end.h"
#include "serial_link.h"

namespace vexlo {

namespace {

constexpr std::uint8_t kBitRateProbe = 0x00;  // sent in bursts; the boot program answers it
constexpr std::uint8_t kBootInquiry = 0x55;
constexpr std::uint8_t kBootAck = 0xAA;
constexpr std::size_t kProbeBurstBytes = 256;
constexpr int kConnectAttempts = 100;
constexpr unsigned kAttemptPauseMs = 10;
constexpr std::uint8_t kWriterSizeHigh = 0x04;  // the writing program is always 1024 bytes
constexpr std::uint8_t kWriterSizeLow = 0x00;
static_assert((kWriterSizeHigh << 8 | kWriterSizeLow) == kWriterImageSize);

std::string chip_text(const char* after) { return std::string(active_profile.chip_name) + after; }

// A failure the connection finds itself: its text, the port restored, the image file deleted.
[[noreturn]] void connection_failure(const std::string& text, std::FILE* stream) {
  std::fputs(text.c_str(), stream);
  restore_port();
  delete_image_file();
  end_run();
}

[[noreturn]] void transfer_failure(const char* line) {
  connection_failure(std::string(line) + "\n", stdout);
}

// Sends bursts of zeros until a byte comes back; returns when one has arrived.
void probe_bit_rate() {
  std::array<std::uint8_t, kProbeBurstBytes> zeros{};
  for (int attempts_left = kConnectAttempts;;) {
    if (!write_bulk(zeros.data(), zeros.size())) connection_failure("write error\n", stderr);
    if (poll_byte() == 1) return;
    pause_ms(kAttemptPauseMs);
    if (--attempts_left == 0) connection_failure(chip_text(" is not ready. Aborted!\n"), stderr);
  }
}

// The first byte other than 0x00 after the inquiry: zeros still trail in from the bursts. A
// chip that sends only zeros is given as long as a single byte would be.
std::uint8_t first_non_zero_byte() {
  const auto deadline = std::chrono::steady_clock::now() + kByteTimeout;
  for (;;) {
    const int byte = wait_byte();
    if (byte != kBitRateProbe) return static_cast<std::uint8_t>(byte);
    if (std::chrono::steady_clock::now() >= deadline) {
      std::fputs("read timeout\n", stderr);
      restore_port();
      end_run();
    }
  }
}

}  // namespace

void connect_chip() {
  std::fputs(("Connecting " + chip_text(" ....\r")).c_str(), stderr);
  std::fflush(stderr);
  probe_bit_rate();
  expect_byte(serial_byte, kBitRateProbe);
  send_byte(kBootInquiry);
  expect_byte(first_non_zero_byte(), kBootAck);
  const std::string banner =
      chip_text(" is ready! ") + std::string(active_profile.banner_date) + " by (qym).\n";
  std::fputs(banner.c_str(), stderr);
}

void transfer_writer() {
  send_byte(kWriterSizeHigh);
  if (wait_byte() != kWriterSizeHigh) transfer_failure("EEPROM bin adrs h failed!");
  send_byte(kWriterSizeLow);
  if (wait_byte() != kWriterSizeLow) transfer_failure("EEPROM bin adrs l failed!");

  const WriterImage& image = *active_profile.writer_image;
  if (!write_bulk(image.data(), image.size())) {
    // Nothing can come back from a program that did not go out.
    std::fputs("write error\n", stderr);
    restore_port();
    end_run();
  }
  for (std::uint8_t sent : image) {
    if (wait_byte() != sent) transfer_failure("EEPROM bin data failed!");
  }
  if (wait_byte() != kBootAck) transfer_failure("EEPROM writing program transfer failed!");
  std::puts("EEPROM writing program transfer successed.");
}

}  // namespace vexlo
