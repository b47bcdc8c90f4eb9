#include "run_command.h"

#include <algorithm>
#include <charconv>
#include <ostream>

#include "chip.h"
#include "program_file.h"

namespace h8sim {
namespace {

bool parse_states(const std::string& text, States* value) {
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, *value);
  return ec == std::errc() && ptr == end && !text.empty();
}

}  // namespace

bool parse_run_args(std::span<const std::string> args, RunOptions* options) {
  bool have_chip = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    bool has_value = i + 1 < args.size();
    if (arg == "--chip" && has_value) {
      std::optional<ChipModel> model = parse_chip_model(args[++i]);
      if (!model) return false;
      options->chip = *model;
      have_chip = true;
    } else if (arg == "--max-states" && has_value) {
      if (!parse_states(args[++i], &options->max_states)) return false;
    } else if (arg == "--stats") {
      options->stats = true;
    } else if (!arg.empty() && arg[0] != '-' && options->file.empty()) {
      options->file = arg;
    } else {
      return false;
    }
  }
  return have_chip && !options->file.empty();
}

int run_program(const RunOptions& options, std::ostream& out, std::ostream& err) {
  // The whole chip: serial interface, flash memory with its controller, watchdog.
  Chip chip(options.chip);
  Clock& clock = chip.clock();
  Cpu& cpu = chip.cpu();

  std::string contents, error;
  if (!read_file(options.file, &contents, &error) ||
      !load_program(contents, chip.bus().flash(), &error)) {
    err << "h8sim: " << options.file << ": " << error << '\n';
    return 2;
  }
  chip.sci().set_transmit_sink([&out](const LineFrame& frame) {
    out.put(static_cast<char>(frame.value));
    out.flush();
  });

  cpu.set_state_budget(options.max_states);
  chip.reset();
  StopResult result = cpu.run();
  // The transmitter finishes its frames while the CPU sleeps.
  while (result.reason == StopReason::kSleep && !chip.sci().idle() &&
         clock.next_deadline() != kNever) {
    clock.advance(clock.next_deadline() - std::min(clock.next_deadline(), clock.now()));
    clock.run_due();
  }
  if (options.stats) {
    err << "states=" << clock.now() << " instructions=" << cpu.instructions() << '\n';
  }
  if (result.reason == StopReason::kSleep) return 0;
  err << "h8sim: " << result.message << '\n';
  return 2;
}

int run_command(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
  RunOptions options;
  if (!parse_run_args(args, &options)) {
    err << kRunUsage << '\n';
    return 2;
  }
  return run_program(options, out, err);
}

}  // namespace h8sim
