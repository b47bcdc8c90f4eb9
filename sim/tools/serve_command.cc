#include "serve_command.h"

#include <signal.h>
#include <time.h>

#include <chrono>
#include <fstream>
#include <ostream>

#include "boot_session.h"
#include "pty_link.h"

namespace h8sim {

namespace {

volatile sig_atomic_t g_stop_signal = 0;

void on_stop_signal(int) { g_stop_signal = 1; }

void install_signal_handlers() {
  struct sigaction sa {};
  sa.sa_handler = on_stop_signal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;  // no SA_RESTART: a signal ends a poll() at once
  sigaction(SIGINT, &sa, nullptr);
  sigaction(SIGTERM, &sa, nullptr);
}

void sleep_ms(long ms) {
  timespec ts{ms / 1000, (ms % 1000) * 1000000L};
  nanosleep(&ts, nullptr);
}

// How far ahead of the host the unpaced simulation runs in one go before it looks at the line.
constexpr States kUnpacedSliceStates = 200000;
// The longest the paced loop sleeps before it looks at the line and the clock again: a small
// part of a frame time (520 µs at 19,200 bit/s), so the chip's answers keep the line's pace.
constexpr long kPacedStepUs = 200;
constexpr int kIdleWaitMs = 500;
constexpr int kAbsentPollMs = 20;

bool write_outputs(const ServeOptions& options, BootSession& session, std::ostream& err) {
  bool ok = true;
  if (!options.dump.empty()) {
    std::ofstream dump(options.dump, std::ios::binary | std::ios::trunc);
    auto flash = session.chip().flash();
    dump.write(reinterpret_cast<const char*>(flash.data()),
               static_cast<std::streamsize>(flash.size()));
    if (!dump) {
      err << "h8sim: cannot write " << options.dump << '\n';
      ok = false;
    }
  }
  if (!options.trace.empty()) {
    std::ofstream trace(options.trace, std::ios::trunc);
    session.chip().trace().write_text(trace);
    if (!trace) {
      err << "h8sim: cannot write " << options.trace << '\n';
      ok = false;
    }
  }
  return ok;
}

// The loop of one session. Returns the exit status.
class ServeLoop {
 public:
  ServeLoop(const ServeOptions& options, PtyLink& link, BootSession& session)
      : options_(options), link_(link), session_(session) {}

  int run(std::ostream& err) {
    while (!g_stop_signal) {
      if (!opened_) {
        opened_ = link_.host_present();
        if (!opened_) {
          sleep_ms(kAbsentPollMs);
          continue;
        }
        wall_start_ = std::chrono::steady_clock::now();
        states_at_start_ = session_.chip().clock().now();
      }
      if (!take_host_bytes() || session_.line_closed()) break;
      SessionResult r = advance();
      flush_chip_bytes();
      if (r.stop == SessionStop::kCpuStopped) {
        err << "h8sim: " << r.message << '\n';
        return 2;
      }
      if (!link_.host_present()) break;
    }
    flush_chip_bytes();
    return 0;
  }

 private:
  // Simulated time that corresponds to the real time now (paced mode).
  States real_time_states() const {
    auto elapsed = std::chrono::steady_clock::now() - wall_start_;
    auto us = std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count();
    return states_at_start_ + static_cast<States>(us) * session_.chip().clock_hz() / 1000000u;
  }

  bool take_host_bytes() {
    std::uint8_t buffer[4096];
    for (;;) {
      long n = link_.read_some(buffer, sizeof buffer);
      if (n < 0) return false;
      if (n == 0) return true;
      session_.set_line_rate(link_.bit_rate());
      const States earliest = options_.pace ? real_time_states() : 0;
      session_.host_send({buffer, static_cast<std::size_t>(n)}, earliest);
    }
  }

  SessionResult advance() {
    Clock& clock = session_.chip().clock();
    if (options_.pace) {
      const States target = real_time_states();
      SessionResult r{SessionStop::kReached, {}};
      if (target > clock.now()) r = session_.run_until(target);
      // What the chip has sent by now goes out at once, not after the pause.
      flush_chip_bytes();
      link_.wait_us(kPacedStepUs, !pending_.empty());
      return r;
    }
    if (session_.waiting_for_host()) {
      flush_chip_bytes();
      link_.wait(kIdleWaitMs, !pending_.empty());
      return {SessionStop::kReached, {}};
    }
    return session_.run_until(clock.now() + kUnpacedSliceStates);
  }

  void flush_chip_bytes() {
    for (const LineFrame& f : session_.take_chip_frames()) pending_.push_back(f.value);
    while (!pending_.empty()) {
      long n = link_.write_some(pending_.data(), pending_.size());
      if (n <= 0) return;
      pending_.erase(pending_.begin(), pending_.begin() + n);
    }
  }

  const ServeOptions& options_;
  PtyLink& link_;
  BootSession& session_;
  bool opened_ = false;
  std::chrono::steady_clock::time_point wall_start_;
  States states_at_start_ = 0;
  std::vector<std::uint8_t> pending_;
};

}  // namespace

std::string serve_usage() {
  return std::string(
             "usage: h8sim serve --chip 3067f|3068f|3664f --link PATH [--dump FILE] "
             "[--trace FILE] [--pace] [--fault SPEC]...\n"
             "  Simulates the chip started in boot mode on a pseudo-terminal that PATH links to,\n"
             "  until the host has opened and closed it again (or SIGINT/SIGTERM).\n"
             "  --dump FILE   write the flash contents at the end (raw, the whole flash)\n"
             "  --trace FILE  write the flash-control timeline and any misuse at the end\n"
             "  --pace        keep real time at the line's bit rate (default: as fast as it "
             "goes)\n"
             "  --fault SPEC  one of:\n") +
         std::string(fault_usage());
}

bool parse_serve_args(std::span<const std::string> args, ServeOptions* options,
                      std::string* error) {
  bool have_chip = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool has_value = i + 1 < args.size();
    if (arg == "--pace") {
      options->pace = true;
      continue;
    }
    if (!has_value || (arg != "--chip" && arg != "--link" && arg != "--dump" && arg != "--trace" &&
                       arg != "--fault")) {
      *error = "unexpected argument '" + arg + "'";
      return false;
    }
    const std::string& value = args[++i];
    if (arg == "--chip") {
      auto model = parse_chip_model(value);
      if (!model) {
        *error = "unknown chip '" + value + "'";
        return false;
      }
      options->chip = *model;
      have_chip = true;
    } else if (arg == "--link") {
      options->link = value;
    } else if (arg == "--dump") {
      options->dump = value;
    } else if (arg == "--trace") {
      options->trace = value;
    } else if (!parse_fault(value, options->faults, error)) {
      return false;
    }
  }
  if (!have_chip || options->link.empty()) {
    *error = "--chip and --link are required";
    return false;
  }
  return true;
}

int serve(const ServeOptions& options, std::ostream& err) {
  BootSession session(options.chip, options.faults);
  // Before the link appears: a host may signal as soon as it sees it.
  install_signal_handlers();
  PtyLink link;
  std::string error;
  if (!link.open(options.link, &error)) {
    err << "h8sim: " << error << '\n';
    return 2;
  }
  int status = ServeLoop(options, link, session).run(err);
  if (!write_outputs(options, session, err)) status = 2;
  return status;
}

int serve_command(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
  if (args.size() == 1 && args[0] == "--help") {
    out << serve_usage();
    return 0;
  }
  ServeOptions options;
  std::string error;
  if (!parse_serve_args(args, &options, &error)) {
    err << "h8sim serve: " << error << " (h8sim serve --help shows the usage)\n";
    return 2;
  }
  return serve(options, err);
}

}  // namespace h8sim
