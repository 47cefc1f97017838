"""Drives the real Verdanox program under Xvfb as a person would: real mouse
clicks and key presses through XTEST (xdotool), text read back through the X
selection (double-click a field, as a user copying it would) and through OCR
of screenshots (tesseract)."""
import os
import re
import shutil
import subprocess
import tempfile
import time

from Xlib import X, display as xdisplay, protocol


class Xvfb:
    def __init__(self):
        r, w = os.pipe()
        self.proc = subprocess.Popen(["Xvfb", "-displayfd", str(w), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                                     pass_fds=(w,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(w)
        number = b""
        while not number.endswith(b"\n"):
            chunk = os.read(r, 16)
            if not chunk:
                raise RuntimeError("Xvfb did not start")
            number += chunk
        os.close(r)
        self.name = ":" + number.decode().strip()
        self.env = dict(os.environ, DISPLAY=self.name)

    def close(self):
        self.proc.terminate()
        self.proc.wait()


class Session:
    """One run of a command (the virtual stick with Verdanox, or Verdanox alone)."""

    def __init__(self, xvfb, command, workdir, log_name="out.txt"):
        self.x = xvfb
        self.workdir = workdir
        self.log_path = os.path.join(workdir, log_name)
        self.log = open(self.log_path, "w")
        env = dict(xvfb.env)
        self.proc = subprocess.Popen(command, cwd=workdir, env=env, stdout=self.log, stderr=subprocess.STDOUT,
                                     stdin=subprocess.DEVNULL)

    # --- the X side -------------------------------------------------------
    def xdo(self, *args):
        return subprocess.run(["xdotool", *args], env=self.x.env, capture_output=True, text=True,
                              timeout=30).stdout.strip()

    def find_window(self, name, timeout=20):
        end = time.time() + timeout
        while time.time() < end:
            ids = [w for w in self.xdo("search", "--onlyvisible", "--name", "^" + re.escape(name) + "$").split() if w]
            if ids:
                return ids[-1]
            if self.proc.poll() is not None:
                break
            time.sleep(0.1)
        return None

    def geometry(self, wid):
        out = self.xdo("getwindowgeometry", "--shell", wid)
        values = dict(line.split("=") for line in out.splitlines() if "=" in line)
        return int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"])

    def click(self, wid, rx, ry, double=False):
        x, y, _, _ = self.geometry(wid) if wid != "root" else (0, 0, 0, 0)
        self.xdo("mousemove", "--sync", str(x + rx), str(y + ry))
        self.xdo("click", "--repeat", "2" if double else "1", "--delay", "60", "1")
        time.sleep(0.25)

    def region(self, x, y, w=24, h=8):
        out = subprocess.run(["import", "-window", "root", "-crop", "%dx%d+%d+%d" % (w, h, x, y), "rgb:-"],
                             env=self.x.env, capture_output=True, timeout=30)
        return out.stdout

    def menu(self, wid, title, item):
        """Opens a menu by its title and clicks an item once the popup shows."""
        x, y, _, _ = self.geometry(wid)
        spot = (x + item[0] - 12, y + item[1] - 4)
        before = self.region(*spot)
        self.click(wid, *title)
        end = time.time() + 5
        while self.region(*spot) == before and time.time() < end:
            time.sleep(0.05)
        self.click(wid, *item)

    def hover(self, wid, rx, ry):
        x, y, _, _ = self.geometry(wid)
        self.xdo("mousemove", "--sync", str(x + rx), str(y + ry))
        time.sleep(0.25)

    def key(self, wid, combo):
        self.xdo("windowfocus", "--sync", wid)
        self.xdo("key", combo)
        time.sleep(0.3)

    def field_text(self, wid, rx, ry):
        """Double-click a text field (selects its word) and read PRIMARY."""
        subprocess.run(["xclip", "-selection", "primary", "-i", "/dev/null"], env=self.x.env, timeout=10)
        self.click(wid, rx, ry, double=True)
        out = subprocess.run(["xclip", "-selection", "primary", "-o"], env=self.x.env, capture_output=True,
                             text=True, timeout=10)
        return out.stdout if out.returncode == 0 else ""

    def screenshot(self, path, wid="root"):
        subprocess.run(["import", "-window", wid, path], env=self.x.env, check=True, timeout=30)
        return path

    def ocr(self, wid):
        """The text of a window, as tesseract reads a 4x enlarged screenshot."""
        shot = os.path.join(self.workdir, "ocr-%s.png" % wid)
        self.screenshot(shot, wid)
        return self.ocr_file(shot)

    def ocr_file(self, shot):
        big = shot.replace(".png", "-big.png")
        subprocess.run(["convert", shot, "-resize", "400%", "-colorspace", "gray", big], check=True, timeout=30)
        out = subprocess.run(["tesseract", big, "-", "--psm", "6"], capture_output=True, text=True, timeout=60)
        return out.stdout

    def find_text(self, wid, word, timeout=10):
        """Where a word appears in a window: its centre relative to the
        window, from tesseract's word boxes of a 4x enlarged screenshot."""
        end = time.time() + timeout
        while time.time() < end:
            shot = os.path.join(self.workdir, "find.png")
            self.screenshot(shot, wid)
            big = shot.replace(".png", "-big.png")
            subprocess.run(["convert", shot, "-resize", "400%", "-colorspace", "gray", big], check=True, timeout=30)
            tsv = subprocess.run(["tesseract", big, "-", "--psm", "11", "tsv"], capture_output=True, text=True,
                                 timeout=60).stdout
            for line in tsv.splitlines()[1:]:
                f = line.split("\t")
                if len(f) == 12 and f[11].strip() == word:
                    left, top, width, height = (int(v) for v in f[6:10])
                    return (left + width // 2) // 4, (top + height // 2) // 4
            time.sleep(0.5)
        return None

    def close_request(self, wid):
        """What a window manager sends when the user closes a window."""
        d = xdisplay.Display(self.x.name)
        window = d.create_resource_object("window", int(wid))
        protocols = d.intern_atom("WM_PROTOCOLS")
        delete = d.intern_atom("WM_DELETE_WINDOW")
        event = protocol.event.ClientMessage(window=window, client_type=protocols,
                                             data=(32, [delete, X.CurrentTime, 0, 0, 0]))
        window.send_event(event, event_mask=X.NoEventMask)
        d.flush()
        d.close()

    # --- the program side -------------------------------------------------
    def output(self):
        self.log.flush()
        with open(self.log_path, errors="replace") as f:
            return f.read()

    def count(self, pattern):
        return len(re.findall(pattern, self.output(), re.M))

    def wait_for(self, pattern, count=1, timeout=15):
        end = time.time() + timeout
        while time.time() < end:
            if self.count(pattern) >= count:
                return True
            time.sleep(0.1)
        return False

    def wait_exit(self, timeout=15):
        try:
            return self.proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
            return None


def workdir_with_config(config):
    d = tempfile.mkdtemp(prefix="vdxgui.")
    if config:
        shutil.copy(config, os.path.join(d, "VDXconfig.txt"))
    return d
