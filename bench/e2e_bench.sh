#!/usr/bin/env bash
# End-to-end benchmark: vexlob, vexloa and vexloc each write a full image (every block holds
# data) into their simulated chip (h8sim serve) and the figures are printed as one table:
#   paced   (--pace, the simulated line keeps real time): the host's wall time against the
#           line's limit = bytes on the line in both directions x 10 bit / 19200 bit/s + the
#           chip's programming time; goal: at most 1.05 x the limit. The limit is given for the
#           whole run (the zero bytes of the connection bursts counted as the host wrote them)
#           and from the ready banner on (the bytes after that are fixed by the protocol).
#   unpaced (as fast as the simulator goes): the host's wall time and CPU time (user+sys).
# Every run is checked: exit status 0, "EEPROM Writing is successed." on stderr, a flash
# trace without misuse or reset and one programming span per block, and the flash dump equal
# to the image (as srec_cat reads the S-record file).
#
# Usage: bench/e2e_bench.sh [BUILD_DIR] [CHIP...]   CHIP: 3664f 3067f 3068f (default: all three)
# BUILD_DIR (default build-g) is configured as Release and the four programs are built if
# missing. The paced vexloc run alone takes about four minutes.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-g}
shift || true
for tool in python3 srec_cat cc cmake; do
  command -v "$tool" >/dev/null || { echo "missing $tool" >&2; exit 2; }
done

if [[ ! -f $build/CMakeCache.txt ]]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
for program in vexloa vexlob vexloc h8sim; do
  if [[ ! -x $build/bin/$program ]]; then
    cmake --build "$build" -j2 --target vexloa vexlob vexloc h8sim >/dev/null
    break
  fi
done
build=$(cd "$build" && pwd)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cc -O2 -shared -fPIC -Wall -Wextra -o "$work/e2e_linecount.so" "$root/bench/e2e_linecount.c" -ldl

python3 "$root/bench/e2e_bench.py" "$build" "$work/e2e_linecount.so" "$@"
