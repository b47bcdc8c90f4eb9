#!/usr/bin/env python3
"""End-to-end benchmark: each writer program flashes a full image into its simulated chip.

Usage: e2e_bench.py BUILD_DIR LINECOUNT_SO [CHIP...]   (called by e2e_bench.sh)

For each chip it runs the host twice against `h8sim serve`:
  paced   (--pace: the simulated line keeps real time at 19200 bit/s): the host's wall time
          against the line's limit, the time the bytes on the line take at 19200 bit/s plus the
          chip's programming time; goal: at most 1.05 x the limit;
  unpaced (the simulator runs as fast as it can): the host's wall time and CPU time.
Every run must end with status 0, "EEPROM Writing is successed." on stderr, a clean flash
trace and a flash dump equal to the image.
"""
import os
import signal
import subprocess
import sys
import tempfile
import threading
import time
from dataclasses import dataclass, field

LINE_BIT_RATE = 19200
BITS_PER_FRAME = 10  # start bit, 8 data bits, stop bit
GOAL_FACTOR = 1.05
SIM_START_TIMEOUT_S = 10
SIM_END_TIMEOUT_S = 60
UNPACED_TIMEOUT_S = 900


@dataclass(frozen=True)
class Chip:
    name: str  # h8sim's --chip
    program: str
    image_size: int
    block_size: int
    number_bytes: int  # block number bytes on the line
    clock_hz: int
    # The writer's wait after it clears SWE, before it sends the reply: in programming time but
    # not in the flash trace, which ends each block's span at SWE cleared.
    wait_after_swe_states: int

    @property
    def blocks(self):
        return self.image_size // self.block_size


CHIPS = {
    c.name: c
    for c in (
        Chip("3664f", "vexlob", 0x8000, 128, 1, 16_000_000, 100 * 10),
        Chip("3067f", "vexloa", 0x20000, 32, 2, 20_000_000, 200 * 10),
        Chip("3068f", "vexloc", 0x60000, 32, 2, 20_000_000, 200 * 10),
    )
}

WRITER_BYTES = 1024
SIZE_BYTES = 2


def line_seconds(frames):
    return frames * BITS_PER_FRAME / LINE_BIT_RATE


# --- the image ---------------------------------------------------------------------------


def image_bytes(size):
    """A pattern in which no block is all 0xFF: the low address bits vary inside every block."""
    return bytes(((a * 7) ^ (a >> 8) ^ (a >> 16)) & 0xFF for a in range(size))


def srec_line(kind, address, data, address_bytes):
    body = bytes([address_bytes + len(data) + 1]) + address.to_bytes(address_bytes, "big") + data
    checksum = (~sum(body)) & 0xFF
    return f"S{kind}{body.hex().upper()}{checksum:02X}\n"


def write_srec(path, data):
    """S1 records below 64 KB, S2 above, 32 data bytes each, with header and end records."""
    lines = [srec_line(0, 0, b"e2e", 2)]
    for a in range(0, len(data), 32):
        kind, width = (1, 2) if a + 32 <= 0x10000 else (2, 3)
        lines.append(srec_line(kind, a, data[a : a + 32], width))
    lines.append(srec_line(8, 0, b"", 3) if len(data) > 0x10000 else srec_line(9, 0, b"", 2))
    with open(path, "w") as f:
        f.writelines(lines)


def srec_cat_binary(path, size):
    """The image as srec_cat reads the S-record file: our check of the file we wrote."""
    return subprocess.run(
        ["srec_cat", path, "-fill", "0xFF", "0", str(size), "-o", "-", "-binary"],
        check=True,
        capture_output=True,
    ).stdout


# --- one run -----------------------------------------------------------------------------


@dataclass
class Run:
    status: int = None
    wall_s: float = None
    cpu_s: float = None
    ready_s: float = None  # time of the ready banner on stderr, from the host's start
    stderr: bytes = b""
    stdout: bytes = b""
    line_written: int = None
    line_read: int = None
    leading_zeros: int = None
    swe_spans_us: list = field(default_factory=list)
    trace_faults: list = field(default_factory=list)
    dump: bytes = b""
    sim_status: int = None
    problems: list = field(default_factory=list)


def read_stream(stream, sink, stamps, t0):
    while True:
        chunk = os.read(stream.fileno(), 65536)
        if not chunk:
            return
        stamps.append((time.perf_counter() - t0, len(sink)))
        sink.extend(chunk)


def stamp_of(text, marker, stamps):
    at = bytes(text).find(marker)
    if at < 0:
        return None
    return next((t for t, offset in reversed(stamps) if offset <= at), None)


def wait_for_link(link, sim):
    deadline = time.monotonic() + SIM_START_TIMEOUT_S
    while not os.path.islink(link):
        if sim.poll() is not None or time.monotonic() > deadline:
            return False
        time.sleep(0.01)
    return True


def parse_trace(path, run):
    set_us = None
    with open(path) as f:
        for line in f:
            parts = line.split()
            if len(parts) >= 4 and parts[3] == "SWE" and parts[2] in ("SET", "CLEAR"):
                if parts[2] == "SET":
                    set_us = float(parts[1])
                elif set_us is not None:
                    run.swe_spans_us.append(float(parts[1]) - set_us)
                    set_us = None
            elif len(parts) >= 3 and parts[2] in ("MISUSE", "RESET"):
                run.trace_faults.append(line.strip())


def run_host(host_cmd, cwd, env, timeout_s, run):
    """Runs the host to its end; wall time from the start, CPU time from its rusage."""
    out, err, out_stamps, err_stamps = bytearray(), bytearray(), [], []
    t0 = time.perf_counter()
    host = subprocess.Popen(host_cmd, cwd=cwd, env=env, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, stdin=subprocess.DEVNULL)
    readers = [threading.Thread(target=read_stream, args=(s, b, st, t0))
               for s, b, st in ((host.stdout, out, out_stamps), (host.stderr, err, err_stamps))]
    for r in readers:
        r.start()
    timer = threading.Timer(timeout_s, lambda: os.kill(host.pid, signal.SIGKILL))
    timer.start()
    _, wait_status, usage = os.wait4(host.pid, 0)
    run.wall_s = time.perf_counter() - t0
    timer.cancel()
    host.returncode = os.waitstatus_to_exitcode(wait_status)
    for r in readers:
        r.join()
    run.status = host.returncode
    if run.status == -signal.SIGKILL:
        run.problems.append(f"host killed after the {timeout_s:.0f} s bound")
    run.cpu_s = usage.ru_utime + usage.ru_stime
    run.stdout, run.stderr = bytes(out), bytes(err)
    run.ready_s = stamp_of(err, b"is ready!", err_stamps)


def stop_sim(sim, run):
    try:
        run.sim_status = sim.wait(timeout=SIM_END_TIMEOUT_S)
    except subprocess.TimeoutExpired:
        sim.send_signal(signal.SIGTERM)
        run.problems.append(f"h8sim still running {SIM_END_TIMEOUT_S} s after the host ended")
        try:
            run.sim_status = sim.wait(timeout=SIM_END_TIMEOUT_S)
        except subprocess.TimeoutExpired:
            sim.kill()
            run.sim_status = sim.wait()


def run_once(build, linecount_so, chip, srec, paced, timeout_s, count_line):
    """One host run against a fresh simulated chip; `count_line` preloads the line counter."""
    run = Run()
    with tempfile.TemporaryDirectory(prefix=f"e2e-{chip.name}-") as scratch:
        link, dump, trace = (os.path.join(scratch, n) for n in ("port", "flash.bin", "trace"))
        sim_cmd = [os.path.join(build, "bin", "h8sim"), "serve", "--chip", chip.name,
                   "--link", link, "--dump", dump, "--trace", trace]
        if paced:
            sim_cmd.append("--pace")
        sim = subprocess.Popen(sim_cmd, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
        try:
            if not wait_for_link(link, sim):
                run.problems.append("h8sim did not create its link")
                return run
            env = dict(os.environ)
            counts = os.path.join(scratch, "linecount")
            if count_line:
                env["LD_PRELOAD"] = linecount_so
                env["E2E_LINECOUNT_OUT"] = counts
            host_cmd = [os.path.join(build, "bin", chip.program), srec, link]
            run_host(host_cmd, scratch, env, timeout_s, run)
        finally:
            stop_sim(sim, run)
        if count_line and os.path.exists(counts):
            with open(counts) as f:
                run.line_written, run.line_read, run.leading_zeros = map(int, f.read().split())
        if os.path.exists(trace):
            parse_trace(trace, run)
        if os.path.exists(dump):
            with open(dump, "rb") as f:
                run.dump = f.read()
    return run


def check(run, chip, expected):
    """Adds to run.problems every way the run did not write the image."""
    p = run.problems
    if run.status != 0:
        p.append(f"host exit status {run.status}")
    if b"EEPROM Writing is successed." not in run.stderr:
        p.append("no success message on stderr")
    if run.sim_status != 0:
        p.append(f"h8sim exit status {run.sim_status}")
    if run.dump != expected:
        diff = next((i for i, (a, b) in enumerate(zip(run.dump, expected)) if a != b), None)
        p.append(f"flash dump differs from the image ({len(run.dump)} bytes, first difference "
                 f"at {diff if diff is None else hex(diff)})")
    if run.trace_faults:
        p.append(f"flash trace: {run.trace_faults[0]} (+{len(run.trace_faults) - 1} more)")
    if len(run.swe_spans_us) != chip.blocks:
        p.append(f"{len(run.swe_spans_us)} programming spans in the trace, {chip.blocks} blocks")
    if run.ready_s is None:
        p.append("no ready banner on stderr")


# --- figures -----------------------------------------------------------------------------


def programming_s(run, chip):
    wait_us = chip.wait_after_swe_states * 1e6 / chip.clock_hz
    return (sum(run.swe_spans_us) + wait_us * len(run.swe_spans_us)) / 1e6


def after_ready_frames(chip):
    """Frames on the line after the chip's 0xAA to 0x55 (the host's ready banner), as
    (host's, chip's): the size and the program, both echoed, the chip's final 0xAA, then every
    block and its reply."""
    host = SIZE_BYTES + WRITER_BYTES + chip.blocks * (chip.number_bytes + chip.block_size)
    chip_side = SIZE_BYTES + WRITER_BYTES + 1 + chip.blocks
    return host, chip_side


# Before the ready banner, apart from the host's zeros: the host's 0x55; the chip's 0x00
# (the boot program has adjusted its bit rate) and its 0xAA.
BEFORE_READY_HOST, BEFORE_READY_CHIP = 1, 2


class Table:
    HEAD = ("chip", "run", "measure", "figure", "reference", "goal")
    WIDTHS = (6, 8, 30, 12, 46)

    def __init__(self):
        self.rows = []

    def add(self, *cells):
        self.rows.append(cells)

    def print(self):
        fmt = "".join(f"{{:<{w}}} " for w in self.WIDTHS) + "{}"
        print(fmt.format(*self.HEAD))
        for row in self.rows:
            print(fmt.format(*row).rstrip())


def verdict(ok):
    return "met" if ok else "NOT met"


def paced_rows(table, chip, run):
    prog = programming_s(run, chip)
    frames = run.line_written + run.line_read
    limit = line_seconds(frames) + prog
    host_after, chip_after = after_ready_frames(chip)
    after = host_after + chip_after
    limit_after = line_seconds(after) + prog
    wall_after = run.wall_s - run.ready_s
    zeros_bursts = run.leading_zeros / 256
    extra_host = run.line_written - (run.leading_zeros + BEFORE_READY_HOST + host_after)
    extra_chip = run.line_read - (BEFORE_READY_CHIP + chip_after)
    table.add(chip.name, "paced", "host wall time, whole run", f"{run.wall_s:.3f} s",
              f"limit {limit:.3f} s", f"<= 1.05 x limit: {run.wall_s / limit:.4f} x "
              f"{verdict(run.wall_s <= GOAL_FACTOR * limit)}")
    table.add("", "", "  line bytes (counted)", f"{frames}",
              f"{run.line_written} out ({run.leading_zeros} zeros = {zeros_bursts:g} bursts), "
              f"{run.line_read} in", "")
    table.add("", "", "  of which line time", f"{line_seconds(frames):.3f} s",
              f"{frames} x 10 bit / 19200 bit/s", "")
    table.add("", "", "  chip programming time", f"{prog:.3f} s",
              f"{chip.blocks} blocks: SWE spans + "
              f"{chip.wait_after_swe_states * 1e6 / chip.clock_hz:g} us each", "")
    table.add("", "", "host wall time from ready", f"{wall_after:.3f} s",
              f"limit {limit_after:.3f} s ({after} bytes)",
              f"<= 1.05 x limit: {wall_after / limit_after:.4f} x "
              f"{verdict(wall_after <= GOAL_FACTOR * limit_after)}")
    table.add("", "", "  connection until ready", f"{run.ready_s:.3f} s",
              f"{line_seconds(run.leading_zeros + BEFORE_READY_HOST + BEFORE_READY_CHIP):.3f} s "
              "of line", "")
    if extra_host or extra_chip:
        table.add("", "", "  bytes beyond the protocol", f"{extra_host} out, {extra_chip} in",
                  "counted minus expected", "")


def unpaced_rows(table, chip, run, paced_limit):
    ref = (f"paced limit {paced_limit:.3f} s: {paced_limit / run.wall_s:.1f} x faster"
           if paced_limit else "")
    table.add(chip.name, "unpaced", "host wall time", f"{run.wall_s:.3f} s", ref, "")
    table.add("", "", "host CPU time (user+sys)", f"{run.cpu_s:.3f} s",
              f"{100 * run.cpu_s / run.wall_s:.1f} % of its wall time", "")


def bench_chip(build, linecount_so, chip, work, table):
    srec = os.path.join(work, f"full-{chip.name}.srec")
    data = image_bytes(chip.image_size)
    write_srec(srec, data)
    expected = srec_cat_binary(srec, chip.image_size)
    if expected != data:
        sys.exit(f"{srec}: srec_cat reads another image than the one written")
    line_estimate = line_seconds(chip.blocks * (chip.block_size + chip.number_bytes + 1) + 4096)
    failed = False
    paced_limit = None
    for paced in (True, False):
        timeout = 2 * line_estimate + 120 if paced else UNPACED_TIMEOUT_S
        run = run_once(build, linecount_so, chip, srec, paced, timeout, count_line=paced)
        check(run, chip, expected)
        if paced and run.line_written is None:
            run.problems.append("no line count from the host")
        name = "paced" if paced else "unpaced"
        if run.problems:
            failed = True
            table.add(chip.name, name, "FAILED", "", "; ".join(run.problems), "")
            continue
        if paced:
            paced_rows(table, chip, run)
            paced_limit = line_seconds(run.line_written + run.line_read) + programming_s(run, chip)
        else:
            unpaced_rows(table, chip, run, paced_limit)
        print(f"{chip.name} {name}: ok (status 0, success message, dump = image, "
              f"{len(run.swe_spans_us)} blocks programmed)", file=sys.stderr)
    return not failed


def main(argv):
    if len(argv) < 3:
        sys.exit(__doc__)
    build, linecount_so = os.path.abspath(argv[1]), os.path.abspath(argv[2])
    names = argv[3:] or ["3664f", "3067f", "3068f"]
    unknown = [n for n in names if n not in CHIPS]
    if unknown:
        sys.exit(f"unknown chip {unknown[0]} (choose from {', '.join(CHIPS)})")
    table = Table()
    ok = True
    with tempfile.TemporaryDirectory(prefix="e2e-") as work:
        for n in names:
            ok &= bench_chip(build, linecount_so, CHIPS[n], work, table)
    table.print()
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
