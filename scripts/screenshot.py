#!/usr/bin/python3
"""Makes docs/verdanox-window.png: the window under Xvfb on the virtual stick,
after Start and two telegrams. Run after a dev build."""
import os
import shutil
import sys
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "gui"))
from xharness import Session, Xvfb, workdir_with_config  # noqa: E402

x = Xvfb()
try:
    d = workdir_with_config(os.path.join(ROOT, "VDXconfig.txt"))
    s = Session(x, [os.path.join(ROOT, "build/dev/tools/verdanox-virtual-stick")], d)
    w = s.find_window("Verdanox 1.0")
    s.click(w, 70, 351)  # Start sending
    s.wait_for(r"MAC ok", 2, timeout=13)
    s.hover(w, 160, 420)
    os.makedirs(os.path.join(ROOT, "docs"), exist_ok=True)
    out = os.path.join(ROOT, "docs", "verdanox-window.png")
    s.screenshot(out, w)
    s.key(w, "ctrl+q")
    s.wait_exit(10)
    shutil.copy(s.log_path, os.path.join(ROOT, "docs", "monitor-sample.txt"))
    print(out)
finally:
    x.close()
