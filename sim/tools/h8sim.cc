// h8sim: the H8/300H simulator's command line.
//   h8sim run --chip 3067f|3068f|3664f [--max-states N] [--stats] FILE
//   h8sim serve --chip 3067f|3068f|3664f --link PATH [...]   (h8sim serve --help)
#include <iostream>
#include <string>
#include <vector>

#include "run_command.h"
#include "serve_command.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  if (!args.empty() && args[0] == "run") {
    std::vector<std::string> rest(args.begin() + 1, args.end());
    return h8sim::run_command(rest, std::cout, std::cerr);
  }
  if (!args.empty() && args[0] == "serve") {
    std::vector<std::string> rest(args.begin() + 1, args.end());
    return h8sim::serve_command(rest, std::cout, std::cerr);
  }
  std::cerr << h8sim::kRunUsage << '\n' << h8sim::serve_usage();
  return 2;
}
