#include "host_run.h"

#include <fstream>

namespace vexlo::hosttest {
namespace {

constexpr std::string_view kPortMark = "{port}";

std::string with_port(std::string arg, const std::string& port) {
  for (auto at = arg.find(kPortMark); at != std::string::npos; at = arg.find(kPortMark)) {
    arg.replace(at, kPortMark.size(), port);
  }
  return arg;
}

}  // namespace

HostRun RunHost(const HostRunSpec& spec) {
  ScratchDir dir;
  FakeChip chip(spec.script);
  HostRun run;
  run.port = chip.port_path();
  if (!spec.srec_name.empty()) {
    std::ofstream(dir.path() / spec.srec_name, std::ios::binary) << spec.srec_text;
  }
  if (spec.prepare) spec.prepare(dir.path(), run.port);

  ChildSpec child;
  child.program = spec.command.front();
  child.args.assign(spec.command.begin() + 1, spec.command.end());
  for (const std::string& arg : spec.args) child.args.push_back(with_port(arg, run.port));
  child.working_dir = dir.path();
  child.extra_env = spec.extra_env;
  child.limit = spec.limit;
  run.child = RunChild(child);
  run.chip = chip.finish();

  const std::filesystem::path image = dir.path() / spec.image_name;
  run.image_left = std::filesystem::is_regular_file(image);
  run.image_is_dir = std::filesystem::is_directory(image);
  if (spec.inspect) spec.inspect(dir.path());
  return run;
}

}  // namespace vexlo::hosttest
