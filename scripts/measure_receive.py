#!/usr/bin/python3
"""Measures the receive path of this tree's release build and, with
--before REV, of an earlier revision built the same way, in one run:
idle CPU of the real program on the virtual stick (sending off and on, 30 s
each), and with verdanox-bench-receive (the real window's poll on a
pseudo-terminal): drain latency median and 99th percentile, the longest
single poll under answers of garbage and 603-byte frames (mixed), a frame
trickling in (slow) and bursts of five frames.
Usage: measure_receive.py [--before REV] [--seconds S]"""
import argparse
import os
import re
import subprocess
import sys
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "gui"))
from xharness import Session, Xvfb, workdir_with_config  # noqa: E402

TICK = os.sysconf("SC_CLK_TCK")


def build(tree):
    subprocess.run(["cmake", "--preset", "release"], cwd=tree, check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", "--preset", "release"], cwd=tree, check=True, stdout=subprocess.DEVNULL)
    out = os.path.join(tree, "build", "release")
    bench = os.path.join(out, "tests", "verdanox-bench-receive")
    if not os.path.exists(bench):  # an older tree: build the harness against its libraries
        fox = subprocess.run(["pkg-config", "--cflags", "--libs", "fox"], capture_output=True, text=True).stdout.split()
        subprocess.run(["g++", "-std=c++17", "-O2", "-Wno-register", "-I" + tree,
                        os.path.join(ROOT, "tests", "bench", "bench_receive.cpp"), "-o", bench,
                        os.path.join(out, "app", "libverdanox_gui.a"), os.path.join(out, "libverdanox_core.a"),
                        *fox, "-lutil", "-pthread"], check=True)
    return out


def cpu_seconds(pid):
    fields = open("/proc/%d/stat" % pid).read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICK


def cpu_over(pid, seconds):
    c0, t0 = cpu_seconds(pid), time.time()
    time.sleep(seconds)
    return 100.0 * (cpu_seconds(pid) - c0) / (time.time() - t0)


def program_cpu(x, out, seconds):
    program = os.path.join(out, "app", "verdanox")
    s = Session(x, [os.path.join(out, "tools", "verdanox-virtual-stick"), "--", program],
                workdir_with_config(os.path.join(ROOT, "VDXconfig.txt")))
    w = s.find_window("Verdanox 1.0")
    pid = int(subprocess.run(["pgrep", "-f", "-x", program], capture_output=True, text=True).stdout.split()[-1])
    time.sleep(2)
    off = cpu_over(pid, seconds)
    s.click(w, 70, 351)  # Start sending
    on = cpu_over(pid, seconds)
    s.key(w, "ctrl+q")
    s.wait_exit(15)
    return off, on


def bench(x, out, mode, seconds):
    line = subprocess.run([os.path.join(out, "tests", "verdanox-bench-receive"), mode, str(seconds)], env=x.env,
                          capture_output=True, text=True, timeout=seconds + 60).stdout.strip()
    return line


def measure(x, name, out, seconds):
    off, on = program_cpu(x, out, seconds)
    print("%s: program on the virtual stick: CPU %.2f %% of a core with sending off, %.2f %% with sending on"
          % (name, off, on), flush=True)
    for mode, s in (("quiet", seconds), ("ack", 10), ("burst", 10), ("mixed", 15), ("slow", 15)):
        print("%s: %s" % (name, bench(x, out, mode, s)), flush=True)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--before")
    parser.add_argument("--seconds", type=int, default=30)
    args = parser.parse_args()
    builds = [("after", build(ROOT))]
    if args.before:
        tree = "/tmp/verdanox-before-" + re.sub(r"\W", "_", args.before)
        if not os.path.isdir(tree):
            subprocess.run(["git", "worktree", "add", "--detach", tree, args.before], cwd=ROOT, check=True)
        builds.insert(0, ("before", build(tree)))
    x = Xvfb()
    try:
        for name, out in builds:
            measure(x, name, out, args.seconds)
    finally:
        x.close()


if __name__ == "__main__":
    main()
