#!/usr/bin/env bash
# Host benchmarks, printed as one table against their goals:
#   1. image building for a full 384 KB S-record file (vexloc, stopped at a port that cannot be
#      opened), side by side with `objcopy -I srec -O binary --gap-fill 0xff` (hyperfine, one run);
#      goal: at most 2 x objcopy's time
#   2. peak memory (ru_maxrss) of image building for the 32 KB (vexlob) and the 384 KB (vexloc)
#      image; goal: the same within 1 MiB
#   3. host CPU time over wall time for a full vexloc download against a fake chip that answers
#      each block after 2 ms; goal: at most 10 %
# Usage: bench/host_bench.sh BUILD_DIR   (an unsanitized build, e.g. -DCMAKE_BUILD_TYPE=Release,
# with vexlob, vexloc and host_bench_download built)
set -euo pipefail

build=$(cd "${1:?usage: $0 BUILD_DIR}" && pwd)
bin=$build/bin
helper=$bin/host_bench_download
for f in "$bin/vexlob" "$bin/vexloc" "$helper"; do
  [[ -x $f ]] || { echo "missing $f (build vexlob vexloc host_bench_download)" >&2; exit 2; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

"$helper" srec "$bin/vexlob" full32k.mot
"$helper" srec "$bin/vexloc" full384k.mot

# 1. Image building time. vexloc ends with exit status 255 at the port: -i keeps hyperfine going.
hyperfine -N -i --warmup 3 --min-runs 20 --export-json times.json \
  -n vexloc "$bin/vexloc full384k.mot /nonexistent/port" \
  -n objcopy "objcopy -I srec -O binary --gap-fill 0xff full384k.mot objcopy.bin" >/dev/null 2>&1
read -r vexloc_ms vexloc_sd objcopy_ms objcopy_sd < <(python3 - <<'PY'
import json
r = {x["command"]: x for x in json.load(open("times.json"))["results"]}
print(*(f'{r[n][k] * 1000:.2f}' for n in ("vexloc", "objcopy") for k in ("mean", "stddev")))
PY
)

# 2. Peak memory of image building (KiB).
mem32=$("$helper" memory "$bin/vexlob" full32k.mot)
mem384=$("$helper" memory "$bin/vexloc" full384k.mot)

# 3. CPU over wall time during a full download, 2 ms per block.
read -r blocks cpu_s wall_s cpu_pct < <("$helper" cpu "$bin/vexloc" 2000)

verdict() { python3 -c "print('met' if $1 else 'NOT met')"; }
ratio=$(python3 -c "print(f'{$vexloc_ms / $objcopy_ms:.2f}')")
growth=$(python3 -c "print(f'{($mem384 - $mem32) / 1024:+.2f}')")

printf '%-44s %-26s %-30s %s\n' "measure" "figure" "reference" "goal"
printf '%-44s %-26s %-30s %s\n' "image build, 384 KB S-records (vexloc)" \
  "$vexloc_ms ms +- $vexloc_sd" "objcopy $objcopy_ms ms +- $objcopy_sd" \
  "<= 2x objcopy: ${ratio}x $(verdict "$ratio <= 2")"
printf '%-44s %-26s %-30s %s\n' "peak memory, image build 32 KB (vexlob)" "$mem32 KiB" "" ""
printf '%-44s %-26s %-30s %s\n' "peak memory, image build 384 KB (vexloc)" "$mem384 KiB" \
  "32 KB image: $mem32 KiB" "within 1 MiB: $growth MiB $(verdict "abs($mem384 - $mem32) <= 1024")"
printf '%-44s %-26s %-30s %s\n' "host CPU / wall, vexloc download, 2 ms/block" \
  "$cpu_s s / $wall_s s" "$blocks blocks" "<= 10 %: $cpu_pct % $(verdict "$cpu_pct <= 10")"
