// The image stage on small S-record files: each case is a file and the image it must give
// (patches over erased flash and the file's length), or the failure text it must end with.
#include "image_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "profiles/chip_profile.h"
#include "run_end.h"

namespace vexlo {
namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kSize = 0x20000;  // the linked profile: H8/3067F

struct Patch {
  std::uint32_t offset;
  std::vector<std::uint8_t> bytes;
};

struct ImageCase {
  const char* name;
  std::string srecords;
  std::vector<Patch> patches;
  std::uint32_t length = kSize;
};

std::vector<std::uint8_t> seq(int first, int count) {
  std::vector<std::uint8_t> v;
  for (int i = 0; i < count; ++i) v.push_back(static_cast<std::uint8_t>(first + i));
  return v;
}

// S1 record at `address` with `count` data bytes first, first+1, ... and checksum "00".
std::string s1(unsigned address, int first, int count) {
  char head[16];
  std::snprintf(head, sizeof head, "S1%02X%04X", count + 3, address);
  std::string r = head;
  for (std::uint8_t b : seq(first, count)) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02X", b);
    r += pair;
  }
  return r + "00";
}

const std::string kS1At0 = "S11300000102030405060708090A0B0C0D0E0F1064\n";
const std::vector<std::uint8_t> kOneTo16 = seq(1, 16);

class ImageBuilderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("vexlo_image_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
            "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    old_dir_ = fs::current_path();
    fs::current_path(dir_);
  }
  void TearDown() override {
    fs::current_path(old_dir_);
    fs::remove_all(dir_);
  }

  // Builds the image from `text`; returns the run's status (0 when build_image returned) and
  // what went to standard error.
  int build(const std::string& text, std::string* err) {
    std::ofstream("in.s", std::ios::binary) << text;
    return build_from("in.s", err);
  }

  // Builds the image from the file `name`, which may be missing.
  int build_from(const std::string& name, std::string* err) {
    sfile_name = name;
    ::testing::internal::CaptureStderr();
    int status = 0;
    try {
      build_image();
    } catch (const RunEnded& ended) {
      status = ended.status;
    }
    *err = ::testing::internal::GetCapturedStderr();
    return status;
  }

  std::vector<std::uint8_t> image() {
    std::ifstream in(std::string(active_profile.image_name), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }

  fs::path dir_, old_dir_;
};

TEST_F(ImageBuilderTest, PlacesRecords) {
  const std::string s1_255 = s1(0x100, 0, 252);  // byte count 0xFF: 512 characters of data
  const ImageCase cases[] = {
      {"empty file", "", {}},
      {"only other records",
       "S00600004844521B\nS5030001FB\nS9030000FC\nS804000000FB\nS70500000000FA\n"
       "hello S4030000FC S 1 S6 s11300000102030405060708090A0B0C0D0E0F1064\n",
       {}},
      {"S1 at 0", kS1At0, {{0, kOneTo16}}},
      {"S2 at 0",
       "S21400000001020304050607080910111213141516FF\n",
       {{0, {1, 2, 3, 4, 5, 6, 7, 8, 0x09, 0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16}}}},
      {"S3 at 0",
       "S3150000000001020304050607080910111213141516FF\n",
       {{0, {1, 2, 3, 4, 5, 6, 7, 8, 0x09, 0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16}}}},
      {"lower-case digits, wrong checksum",
       "S1130010aabbccddeeff00112233445566778899zz\n",
       {{0x10,
         {0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF, 0, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88,
          0x99}}}},
      {"later record wins",
       kS1At0 + "S1040004EE00\n",
       {{0, {1, 2, 3, 4, 0xEE, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16}}}},
      {"out of address order", "S1048000AA00\n" + kS1At0, {{0, kOneTo16}, {0x8000, {0xAA}}}},
      {"no data bytes",
       "S1030000FC\nS1020000\nS1010000\nS1000000\nS2040000000B\nS305000000000A\n",
       {}},
      {"last record without line end",
       "S1048000AA00\nS1040010BB",
       {{0x10, {0xBB}}, {0x8000, {0xAA}}}},
      {"blanks instead of line ends",
       "  \n\n S1040010BB00 \t S1040011CC00\f\vS1040012DD00\r\n",
       {{0x10, {0xBB, 0xCC, 0xDD}}}},
      {"Ctrl-Z ends the file", kS1At0 + "\x1A" + "S1040010BB00\n", {{0, kOneTo16}}},
      {"Ctrl-Z right after a record", "S1040010BB00\x1A", {{0x10, {0xBB}}}},
      {"record longer than 256 characters", s1_255 + "\n", {{0x100, seq(0, 252)}}},
      {"start at the last image byte",
       "S2130"
       "1FFFF0102030405060708090A0B0C0D0E0F00\n",
       {{kSize - 1, seq(1, 15)}},
       kSize + 14},
      {"start at the image size", "S2130200000102030405060708090A0B0C0D0E0F00\n", {}},
      {"start far beyond the image", "S315FFFFFFF00102030405060708090A0B0C0D0E0F1000\n", {}},
  };
  for (const ImageCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::string err;
    ASSERT_EQ(build(c.srecords, &err), 0) << err;
    EXPECT_EQ(err, "Making Image.\r");
    std::vector<std::uint8_t> expected(c.length, 0xFF);
    for (const Patch& p : c.patches) {
      std::copy(p.bytes.begin(), p.bytes.end(), expected.begin() + p.offset);
    }
    const auto got = image();
    ASSERT_EQ(got.size(), expected.size());
    const auto diff = std::mismatch(got.begin(), got.end(), expected.begin());
    EXPECT_TRUE(diff.first == got.end()) << "offset " << (diff.first - got.begin()) << ": "
                                         << int(*diff.first) << " instead of " << int(*diff.second);
  }
}

TEST_F(ImageBuilderTest, LineEndsDoNotChangeTheImage) {
  const std::string lf = "S00600004844521B\n" + kS1At0 + s1(0x4000, 7, 32) + "\nS9030000FC\n";
  std::string crlf;
  for (char c : lf) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  std::string err;
  ASSERT_EQ(build(lf, &err), 0);
  const auto from_lf = image();
  ASSERT_EQ(build(crlf, &err), 0);
  EXPECT_EQ(image(), from_lf);
  EXPECT_EQ(from_lf[0x4000], 7);
}

TEST_F(ImageBuilderTest, BadDataRecordsEndTheRun) {
  const struct {
    const char* name;
    std::string srecords;
    int line;
  } cases[] = {
      {"byte count not hex", "S1G30000FC\n", 1},
      {"address not hex", kS1At0 + "S1050X00AA00\n", 2},
      {"data pair not hex", "\n\n" + std::string("S1060000AA-BCC00\n"), 3},
      {"data cut short", "S0030000FC\r\n\r\nS1130000010203\r\n", 3},
      {"only the type", "S1\n", 1},
      {"address cut short", "S3050000\n", 1},
      {"hex prefix in a field", "S10500000x1200\n", 1},
      {"cut short at the end of the file", kS1At0 + "S1050000AA", 2},
      {"token after blanks on a line", "S9030000FC    S1050000A\n", 1},
      {"line ends by carriage return alone", "\r\r\rS1050000A\r", 4},
      {"skipped record is still checked", "S2060300000ZZ00\n", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string err;
    EXPECT_EQ(build(c.srecords, &err), kRunFailed);
    EXPECT_EQ(err, "Making Image.\rBad S-record at line " + std::to_string(c.line) + ".\n");
    EXPECT_FALSE(fs::exists(std::string(active_profile.image_name)));
  }
}

TEST_F(ImageBuilderTest, MissingFileDeletesTheImage) {
  std::string err;
  EXPECT_EQ(build_from("missing.s", &err), kRunFailed);
  EXPECT_EQ(err, "Making Image.\rfile not found!\n");
  EXPECT_FALSE(fs::exists(std::string(active_profile.image_name)));
}

TEST_F(ImageBuilderTest, ImageThatCannotBeCreated) {
  fs::create_directory(std::string(active_profile.image_name));  // a directory in its place
  std::string err;
  EXPECT_EQ(build(kS1At0, &err), kRunFailed);
  EXPECT_EQ(err, "Making Image.\rCan't create ROM Image file.\n");
  EXPECT_TRUE(fs::is_directory(std::string(active_profile.image_name)));
}

#ifdef __linux__
TEST_F(ImageBuilderTest, FullDiskDeletesTheImage) {
  // /dev/full takes the file's name but refuses every write.
  fs::create_symlink("/dev/full", std::string(active_profile.image_name));
  std::string err;
  EXPECT_EQ(build(kS1At0, &err), kRunFailed);
  EXPECT_EQ(err, "Making Image.\rCan't write ROM Image file.\n");
  EXPECT_FALSE(fs::exists(fs::symlink_status(std::string(active_profile.image_name))));
}
#endif

}  // namespace
}  // namespace vexlo
