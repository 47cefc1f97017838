#!/usr/bin/python3
"""Measures the program on the virtual stick under Xvfb with public tools:
CPU time from /proc/PID/stat over 30 s with sending off and on, resident
memory from /proc/PID/status, the time from start to the window being
mapped, and /usr/bin/time -v's summary. Usage: measure.py BUILD_DIR"""
import os
import subprocess
import sys
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "gui"))
from xharness import Session, Xvfb, workdir_with_config  # noqa: E402

BUILD = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(ROOT, "build", "release"))
PROGRAM = os.path.join(BUILD, "app", "verdanox")
TICK = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    fields = open("/proc/%d/stat" % pid).read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / TICK


def status(pid, key):
    for line in open("/proc/%d/status" % pid):
        if line.startswith(key + ":"):
            return line.split(":")[1].strip()


def program_pid():
    out = subprocess.run(["pgrep", "-f", "-x", PROGRAM], capture_output=True, text=True).stdout.split()
    return int(out[-1])


def cpu_over(pid, seconds):
    c0, t0 = cpu_seconds(pid), time.time()
    time.sleep(seconds)
    return 100.0 * (cpu_seconds(pid) - c0) / (time.time() - t0)


x = Xvfb()
try:
    # start-up without a stick: from exec to the window being mapped
    d = workdir_with_config(os.path.join(ROOT, "VDXconfig.txt"))
    times = []
    for _ in range(5):
        t0 = time.time()
        s = Session(x, [PROGRAM], d)
        s.find_window("Verdanox 1.0")
        times.append(time.time() - t0)
        box = s.find_window("USB RF stick not found!")
        s.key(box, "Escape")
        s.wait_exit()
    print("start to window mapped, no stick: best %.0f ms, median %.0f ms" %
          (1000 * min(times), 1000 * sorted(times)[2]))

    s = Session(x, [os.path.join(BUILD, "tools", "verdanox-virtual-stick"), "--", "/usr/bin/time", "-v", PROGRAM], d)
    w = s.find_window("Verdanox 1.0")
    pid = program_pid()
    time.sleep(2)
    print("idle CPU, sending off, 30 s: %.2f %% of a core" % cpu_over(pid, 30))
    s.click(w, 70, 351)
    print("CPU, sending on, 30 s: %.2f %% of a core" % cpu_over(pid, 30))
    print("resident memory: VmRSS %s, peak VmHWM %s" % (status(pid, "VmRSS"), status(pid, "VmHWM")))
    s.key(w, "ctrl+q")
    s.wait_exit(15)
    for line in s.output().splitlines():
        if any(k in line for k in ("Maximum resident", "Elapsed (wall", "Percent of CPU", "context switches")):
            print("/usr/bin/time -v:", line.strip())
finally:
    x.close()
