// Measurements of a host program for bench/host_bench.sh:
//
//   host_bench_download srec PROGRAM OUT      write a full-image S-record file for PROGRAM's chip
//   host_bench_download memory PROGRAM SREC   peak resident memory (KiB) of image building: the
//                                             program runs with a port that cannot be opened, so
//                                             it builds the ROM image and stops
//   host_bench_download cpu PROGRAM DELAY_US  full-image download against a fake chip that takes
//                                             DELAY_US to answer each block; prints the host's
//                                             CPU time, wall time and their ratio
//
// PROGRAM is a path ending in vexloa, vexlob or vexloc; it picks the chip.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "download_model.h"
#include "host_run.h"

namespace vexlo::hosttest {
namespace {

const Deliverable* DeliverableOf(const std::string& program) {
  for (const Deliverable* d : {&kVexloa, &kVexlob, &kVexloc}) {
    const std::string name = d->program;
    if (program.size() >= name.size() && program.ends_with(name)) return d;
  }
  return nullptr;
}

double Seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; }

int WriteSrec(const Deliverable& d, const char* out) {
  std::ofstream(out, std::ios::binary) << SRecordFile(FullImageRecords(d));
  return 0;
}

int Memory(const std::string& program, const char* srec) {
  ScratchDir dir;
  ChildSpec spec;
  spec.program = program;
  spec.args = {std::filesystem::absolute(srec).string(), "/nonexistent/port"};
  spec.working_dir = dir.path();
  const ChildResult run = RunChild(spec);
  if (!run.exited) {
    std::fprintf(stderr, "%s: %s\n", program.c_str(), DescribeEnd(run).c_str());
    return 1;
  }
  std::printf("%ld\n", run.usage.ru_maxrss);
  return 0;
}

int Cpu(const Deliverable& d, const std::string& program, long delay_us) {
  HostRunSpec spec;
  spec.command = {program};
  spec.args = {"prog.mot", "{port}"};
  spec.srec_text = SRecordFile(FullImageRecords(d));
  spec.script = ScriptFor(d);
  spec.script.reply_delay = std::chrono::microseconds(delay_us);
  spec.image_name = ImageName(d);
  spec.limit = std::chrono::minutes(10);
  const HostRun run = RunHost(spec);
  if (!run.child.exited || run.child.exit_code != 0) {
    std::fprintf(stderr, "download failed: %s\n%s", DescribeEnd(run.child).c_str(),
                 run.child.err.c_str());
    return 1;
  }
  const double cpu = Seconds(run.child.usage.ru_utime) + Seconds(run.child.usage.ru_stime);
  const double wall = std::chrono::duration<double>(run.child.wall).count();
  std::printf("%d %.3f %.3f %.1f\n", BlockCount(d), cpu, wall, 100.0 * cpu / wall);
  return 0;
}

}  // namespace
}  // namespace vexlo::hosttest

int main(int argc, char** argv) {
  using namespace vexlo::hosttest;
  const Deliverable* d = argc == 4 ? DeliverableOf(argv[2]) : nullptr;
  if (d == nullptr) {
    std::fprintf(stderr, "usage: %s srec|memory|cpu PROGRAM ARG\n", argv[0]);
    return 2;
  }
  const std::string mode = argv[1];
  if (mode == "srec") return WriteSrec(*d, argv[3]);
  if (mode == "memory") return Memory(argv[2], argv[3]);
  if (mode == "cpu") return Cpu(*d, argv[2], std::atol(argv[3]));
  std::fprintf(stderr, "unknown mode %s\n", argv[1]);
  return 2;
}
