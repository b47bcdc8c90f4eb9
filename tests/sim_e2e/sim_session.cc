#include "sim_session.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <thread>

namespace vexlo::simtest {

namespace fs = std::filesystem;

namespace {

constexpr auto kLinkWait = std::chrono::seconds(20);

std::string read_text(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::string substitute(std::string arg, const std::string& key, const std::string& value) {
  for (auto at = arg.find(key); at != std::string::npos; at = arg.find(key, at + value.size())) {
    arg.replace(at, key.size(), value);
  }
  return arg;
}

bool wait_for_link(const fs::path& link, const std::atomic<bool>& serve_ended) {
  const auto deadline = std::chrono::steady_clock::now() + kLinkWait;
  while (std::chrono::steady_clock::now() < deadline && !serve_ended) {
    if (fs::exists(link)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

// Puts the line in settings no host would leave by chance (9600 bit/s, 7 data bits, even parity,
// two stop bits, raw, no echo), so a host that restores only part of them shows.
void make_distinct(int fd) {
  termios t{};
  if (fd < 0 || tcgetattr(fd, &t) != 0) return;
  cfmakeraw(&t);
  t.c_cflag = (t.c_cflag & ~static_cast<tcflag_t>(CSIZE)) | CS7 | PARENB | CSTOPB | CREAD;
  cfsetispeed(&t, B9600);
  cfsetospeed(&t, B9600);
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 3;
  tcsetattr(fd, TCSANOW, &t);
}

std::optional<termios> line_settings(int fd) {
  termios t{};
  if (fd < 0 || tcgetattr(fd, &t) != 0) return std::nullopt;
  return t;
}

hosttest::ChildSpec host_spec(const SessionSpec& spec, const fs::path& dir, const fs::path& link) {
  hosttest::ChildSpec host;
  host.program = spec.host.at(0);
  for (std::size_t i = 1; i < spec.host.size(); ++i) {
    host.args.push_back(
        substitute(substitute(spec.host[i], "{port}", link.string()), "{srec}", "prog.mot"));
  }
  host.working_dir = dir;
  host.extra_env = spec.host_env;
  host.limit = spec.limit;
  return host;
}

}  // namespace

Session RunSession(const SessionSpec& spec) {
  Session session;
  hosttest::ScratchDir scratch;
  const fs::path dir = scratch.path();
  const fs::path link = dir / "tty";
  std::ofstream(dir / "prog.mot", std::ios::binary) << spec.srec_text;

  hosttest::ChildSpec serve;
  serve.program = spec.h8sim;
  serve.args = {"serve",
                "--chip",
                spec.chip,
                "--link",
                link.string(),
                "--dump",
                (dir / "flash.bin").string(),
                "--trace",
                (dir / "trace.txt").string()};
  for (const auto& f : spec.faults) serve.args.insert(serve.args.end(), {"--fault", f});
  serve.working_dir = dir;
  serve.limit = spec.limit;
  std::atomic<bool> serve_ended{false};
  std::thread serve_thread([&] {
    session.serve = hosttest::RunChild(serve);
    serve_ended = true;
  });

  int line = -1;
  if (!wait_for_link(link, serve_ended)) {
    session.problem = "h8sim serve did not make its link";
  } else {
    line = ::open(link.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    make_distinct(line);
    session.before = line_settings(line);
    if (spec.prepare) spec.prepare(link.string());
    session.host = hosttest::RunChild(host_spec(spec, dir, link));
    session.after = line_settings(line);
  }
  if (line >= 0) ::close(line);  // the last hold of the line: serve ends by itself now
  serve_thread.join();

  session.image_left = fs::is_regular_file(dir / spec.image_name);
  const std::string flash = read_text(dir / "flash.bin");
  session.flash.assign(flash.begin(), flash.end());
  session.trace = read_text(dir / "trace.txt");
  return session;
}

}  // namespace vexlo::simtest
