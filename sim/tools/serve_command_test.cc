// Drives `h8sim serve` as a host would: over the pseudo-terminal, through the boot exchange,
// with and without each boot fault; the program sent is a tiny one that answers 'K' once it
// runs from its load address.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kImageSize = 1024;
constexpr auto kQuiet = std::chrono::milliseconds(1000);  // nothing more arrives after this
constexpr auto kExitBound = std::chrono::seconds(20);

struct Flash {
  const char* chip;
  std::size_t size;
};

Bytes read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

// One `h8sim serve` process with a fresh link in a private directory.
class Server {
 public:
  Server(const std::string& chip, const std::vector<std::string>& extra) {
    char dir_template[] = "/tmp/h8sim_serve_test.XXXXXX";
    dir_ = mkdtemp(dir_template);
    link_ = dir_ + "/line";
    std::vector<std::string> args = {H8SIM_PATH, "serve",  "--chip", chip,      "--link",
                                     link_,      "--dump", dump(),   "--trace", trace()};
    args.insert(args.end(), extra.begin(), extra.end());
    pid_ = fork();
    if (pid_ == 0) {
      std::vector<char*> argv;
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
  }
  ~Server() {
    if (pid_ > 0 && !exited_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (fd_ >= 0) close(fd_);
    unlink(dump().c_str());
    unlink(trace().c_str());
    unlink(link_.c_str());
    rmdir(dir_.c_str());
  }

  std::string dump() const { return dir_ + "/flash.bin"; }
  std::string trace() const { return dir_ + "/trace.txt"; }
  const std::string& link() const { return link_; }

  // Opens the line as a host opens a serial port: raw, 8N1, at `rate`.
  bool open_line(speed_t rate = B19200) {
    auto end = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < end) {
      fd_ = open(link_.c_str(), O_RDWR | O_NOCTTY);
      if (fd_ >= 0) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (fd_ < 0) return false;
    termios tio{};
    tcgetattr(fd_, &tio);
    cfmakeraw(&tio);
    cfsetspeed(&tio, rate);
    return tcsetattr(fd_, TCSANOW, &tio) == 0;
  }
  void send(const Bytes& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
      if (n <= 0) return;
      done += static_cast<std::size_t>(n);
    }
  }
  // Reads until `count` bytes have come and then kQuiet passes without more, or until kQuiet
  // passes without any byte.
  Bytes receive(std::size_t count) {
    Bytes got;
    auto quiet_end = Clock::now() + kQuiet + (count ? std::chrono::seconds(10) : kQuiet);
    while (Clock::now() < quiet_end) {
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, 50) > 0 && (p.revents & POLLIN)) {
        std::uint8_t buf[2048];
        ssize_t n = read(fd_, buf, sizeof buf);
        if (n <= 0) break;
        got.insert(got.end(), buf, buf + n);
        quiet_end = Clock::now() + (got.size() >= count ? kQuiet : std::chrono::seconds(10));
      }
    }
    return got;
  }
  void close_line() {
    close(fd_);
    fd_ = -1;
  }
  // The exit status, or -1 if the process has not ended within kExitBound.
  int wait_exit() {
    auto end = Clock::now() + kExitBound;
    while (Clock::now() < end) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        exited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
  }
  void signal(int sig) { kill(pid_, sig); }

 private:
  std::string dir_, link_;
  pid_t pid_ = -1;
  int fd_ = -1;
  bool exited_ = false;
};

Bytes hello_image(const std::string& chip) {
  Bytes image = read_file(std::string(H8SIM_TESTPROGS_DIR) + "/hello-" + chip + ".bin");
  if (image.empty()) return image;
  image.resize(kImageSize, 0xFF);
  return image;
}

Bytes host_stream(const Bytes& image) {
  Bytes s(256, 0x00);
  s.insert(s.end(), {0x55, 0x04, 0x00});
  s.insert(s.end(), image.begin(), image.end());
  return s;
}

Bytes good_answer(const Bytes& image) {
  Bytes a = {0x00, 0xAA, 0x04, 0x00};
  a.insert(a.end(), image.begin(), image.end());
  a.insert(a.end(), {0xAA, 'K'});
  return a;
}

TEST(ServeTest, BootExchangeOverThePseudoTerminal) {
  struct Case {
    std::string chip;
    std::vector<std::string> faults;
    // The answer, from the fault-free answer: `cut` bytes kept (0: all), byte `at` replaced.
    std::size_t cut;
    std::size_t at;
    std::uint8_t value;
  };
  constexpr std::size_t kNone = ~std::size_t{0};
  const std::vector<Case> cases = {
      {"3067f", {}, 0, kNone, 0},
      {"3068f", {}, 0, kNone, 0},
      {"3664f", {}, 0, kNone, 0},
      {"3067f", {"no-answer"}, 0, 0, 0},  // cut below
      {"3664f", {"first-byte=3F"}, 0, 0, 0x3F},
      {"3067f", {"after-55=55"}, 0, 1, 0x55},
      {"3067f", {"echo-size-high"}, 0, 2, 0xFB},
      {"3664f", {"echo-size-low"}, 0, 3, 0xFF},
      {"3067f", {"echo-data=7"}, 0, 4 + 6, 0},  // value set below: the inverted byte
      {"3067f", {"no-ack"}, 4 + kImageSize + 1, 4 + kImageSize, 0xFF},
      {"3664f", {"drop-byte=1"}, 1, kNone, 0},  // the 0x55 is lost: only the first answer
      {"3067f", {"stuck-zero=0x100"}, 0, kNone, 0},
  };
  if (hello_image("3067f").empty()) GTEST_SKIP() << "H8 test programs not built";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.chip + (c.faults.empty() ? "" : " " + c.faults[0]));
    std::vector<std::string> extra;
    for (const auto& f : c.faults) extra.insert(extra.end(), {"--fault", f});
    Server server(c.chip, extra);
    ASSERT_TRUE(server.open_line());
    const Bytes image = hello_image(c.chip);
    Bytes expected = good_answer(image);
    if (c.faults == std::vector<std::string>{"no-answer"}) expected.clear();
    if (c.cut) expected.resize(c.cut);
    if (c.at != kNone) {
      expected[c.at] =
          c.faults[0] == "echo-data=7" ? static_cast<std::uint8_t>(~image[6]) : c.value;
    }
    server.send(host_stream(image));
    EXPECT_EQ(server.receive(expected.size()), expected);
    server.close_line();
    ASSERT_EQ(server.wait_exit(), 0);

    Bytes flash = read_file(server.dump());
    const std::size_t size = c.chip == "3664f" ? 0x8000 : c.chip == "3067f" ? 0x20000 : 0x60000;
    ASSERT_EQ(flash.size(), size);
    const bool erased = expected.size() >= 4 + kImageSize;
    const bool stuck = !c.faults.empty() && c.faults[0] == "stuck-zero=0x100";
    EXPECT_EQ(flash[0x100], stuck ? 0x00 : 0xFF);
    if (erased) {
      EXPECT_EQ(flash[0x101], 0xFF);
    }
    EXPECT_EQ(read_file(server.trace()), Bytes{});  // nothing touched the flash controller
  }
}

TEST(ServeTest, EndsOnHangupFaultAndOnSignal) {
  {
    Server server("3067f", {"--fault", "hangup-after=0"});
    ASSERT_TRUE(server.open_line());
    server.send(Bytes(20, 0x00));
    EXPECT_EQ(server.wait_exit(), 0);  // ends by itself although the host keeps the line open
  }
  {
    Server server("3664f", {});
    ASSERT_TRUE(server.open_line());
    server.signal(SIGTERM);
    EXPECT_EQ(server.wait_exit(), 0);
    EXPECT_EQ(read_file(server.dump()).size(), 0x8000u);
  }
}

TEST(ServeTest, BadUsageIsOneLineAndStatus2) {
  Server server("3067f", {"--fault", "bogus"});
  EXPECT_EQ(server.wait_exit(), 2);
}

}  // namespace
