// The spine of a run: the command line, then the five stages in their fixed order.
#pragma once

namespace vexlo {

// Runs the whole program on the given argument vector (argv[0] is never looked at) and returns
// its exit status: 0 after a successful download, -1 after every failure.
int run_sequence(int argc, const char* const* argv);

}  // namespace vexlo
