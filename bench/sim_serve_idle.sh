#!/usr/bin/env bash
# Benchmark: the simulator's speed on a chip that waits on its serial line (unpaced), against
# the goal of at least 20x real time. Builds the simulator libraries in Release in build-c-rel.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build-c-rel}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DVEXLO_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target h8sim_periph >/dev/null
core=$(find "$build" -name libh8sim_core.a | head -1)
periph=$(find "$build" -name libh8sim_periph.a | head -1)
g++ -std=c++20 -O2 -Isim/core -Isim/periph bench/sim_serve_idle.cc "$periph" "$core" \
  -o "$build/sim_serve_idle"
"$build/sim_serve_idle"
