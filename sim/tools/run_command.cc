#include "run_command.h"

#include <charconv>
#include <ostream>

#include "bus.h"
#include "cpu.h"
#include "program_file.h"
#include "transmit_model.h"

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
  const ChipMap& chip = chip_map(options.chip);
  Clock clock;
  Bus bus(chip, clock);
  Cpu cpu(bus, clock, chip.mode);

  std::string contents, error;
  if (!read_file(options.file, &contents, &error) || !load_program(contents, bus.flash(), &error)) {
    err << "h8sim: " << options.file << ": " << error << '\n';
    return 2;
  }
  TransmitModel serial(options.chip, [&out](std::uint8_t byte) {
    out.put(static_cast<char>(byte));
    out.flush();
  });
  bus.attach(serial.first(), serial.last(), &serial);

  cpu.set_state_budget(options.max_states);
  cpu.reset();
  StopResult result = cpu.run();
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
