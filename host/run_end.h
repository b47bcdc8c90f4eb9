// How a run ends before its last stage. A failure is handled where it is found: the stage
// prints its one text and does its clean-up, then calls end_run(), which unwinds to the entry
// point; the entry point returns the status, so the process ends with it.
#pragma once

namespace vexlo {

inline constexpr int kRunFailed = -1;  // exit status of every failure (255 in a POSIX shell)
inline constexpr int kRunSucceeded = 0;

struct RunEnded {
  int status;
};

[[noreturn]] inline void end_run(int status = kRunFailed) { throw RunEnded{status}; }

// Removes the ROM image file of the active profile; a file that cannot be removed is not
// reported.
void delete_image_file();

}  // namespace vexlo
