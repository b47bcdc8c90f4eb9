#!/bin/sh
# Simulated states per second of `h8sim run` on a CPU-bound compiled program (bitwise CRC-32),
# Release build, printed next to the reference: a real H8/3067F runs 20 million states per
# second (φ = 20 MHz); the goal is at least 20 times that (400 million states per second).
#
#   bench/sim_speed.sh [BUILD_DIR]     (default build-a-rel, configured Release if missing)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-a-rel}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if [ ! -x "$build/bin/h8sim" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" -j2 --target h8sim >/dev/null
fi

progs=$root/sim/core/testprogs
printf '\t.h8300h\n\t.include "%s/crt0.s"\n' "$progs" >"$work/crt0.s"
h8300-hms-as --defsym VECTOR_LONG=1 "$work/crt0.s" -o "$work/crt0.o"
for c in "$root/bench/sim_speed_crc.c" "$progs/runtime.c" "$progs/sci_out.c"; do
  h8300-hms-gcc -mh -O2 -ffreestanding -fno-builtin -DSCI_BASE=0xFFFFB8 -DPASSES=2000 \
    -I"$progs" -c "$c" -o "$work/$(basename "$c" .c).o"
done
sed -e 's/@ARCH@/h8300h/; s/@ROM_SIZE@/0x20000/; s/@RAM_BASE@/0xFFEF20/' \
    -e 's/@RAM_SIZE@/0x1000/; s/@STACK_TOP@/0xFFFF00/' "$progs/program.ld.in" >"$work/crc.ld"
h8300-hms-ld -mh8300h -T "$work/crc.ld" "$work/crt0.o" "$work/sim_speed_crc.o" \
  "$work/runtime.o" "$work/sci_out.o" -o "$work/crc.x"
h8300-hms-objcopy -O srec "$work/crc.x" "$work/crc.srec"

# CPU time of the simulator process (user + system), best of 3: on a shared machine the wall
# clock also counts other people's jobs.
best=""
for run in 1 2 3; do
  /usr/bin/time -f '%U %S' -o "$work/time" \
    "$build/bin/h8sim" run --chip 3067f --stats "$work/crc.srec" >"$work/out" 2>"$work/stats"
  best=$(awk -v b="$best" '{ t = $1 + $2; if (b == "" || t < b) b = t; print b }' "$work/time")
done
states=$(sed -n 's/^states=\([0-9]*\) instructions=\([0-9]*\)$/\1/p' "$work/stats")
instructions=$(sed -n 's/^states=\([0-9]*\) instructions=\([0-9]*\)$/\2/p' "$work/stats")
printf 'program: CRC-32, %s states, %s instructions, crc %s\n' "$states" "$instructions" \
  "$(cat "$work/out")"
awk -v n="$states" -v t="$best" 'BEGIN {
  printf "best of 3: %.3f s of CPU time\n", t
  printf "simulated: %.0f million states/s = %.1f x real time of a 20 MHz chip\n", n / t / 1e6, n / t / 20e6
}'
printf 'reference: goal 400 million states/s = 20.0 x real time\n'
