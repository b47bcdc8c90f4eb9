#include "run_sequence.h"

#include <cstdio>
#include <string>

#include "block_download.h"
#include "boot_connection.h"
#include "image_builder.h"
#include "profiles/chip_profile.h"
#include "run_end.h"
#include "serial_link.h"

namespace vexlo {

namespace {

// Takes the command line: the S-record file, then optionally the port. Returns false after
// printing the usage text or "option error!!\n".
bool take_arguments(int argc, const char* const* argv) {
  if (argc == 1) {
    std::fprintf(stderr, "%.*s Motrola-SFile [ serial-port ]\n",
                 static_cast<int>(active_profile.program_name.size()),
                 active_profile.program_name.data());
    return false;
  }
  if (argc != 2 && argc != 3) {
    std::fputs("option error!!\n", stderr);
    return false;
  }
  if (argc == 3) port_name = argv[2];
  sfile_name = argv[1];
  return true;
}

int run_stages() {
  build_image();
  if (open_port() != 0) {
    delete_image_file();
    return kRunFailed;
  }
  connect_chip();
  transfer_writer();
  return download_blocks();
}

}  // namespace

int run_sequence(int argc, const char* const* argv) {
  port_name = "COM1";
  if (!take_arguments(argc, argv)) return kRunFailed;
  try {
    return run_stages();
  } catch (const RunEnded& ended) {
    return ended.status;
  }
}

}  // namespace vexlo
