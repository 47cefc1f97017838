"""The real Verdanox program under Xvfb on the virtual stick, used as a
person would use it. Usage: test_gui.py BUILD_DIR CONFIG ARTIFACT_DIR"""
import os
import re
import subprocess
import sys
import time
import traceback

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from xharness import Session, Xvfb, workdir_with_config  # noqa: E402

BUILD, CONFIG, ARTIFACTS = (os.path.abspath(a) for a in sys.argv[1:4])
PROGRAM = os.path.join(BUILD, "app", "verdanox")
STICK = os.path.join(BUILD, "tools", "verdanox-virtual-stick")
FRAMES = os.path.join(BUILD, "tools", "verdanox-frames")
os.makedirs(ARTIFACTS, exist_ok=True)
ONLY = sys.argv[4:]  # scenario names to run; all when none are given

# Widget positions relative to the main window (320 x 480, no decorations).
METER = lambda i: (90, 81 + 27 * i)  # noqa: E731
COUNT = lambda i: (208, 81 + 27 * i)  # noqa: E731
START, STOP = (70, 351), (209, 351)
EMPTY = (160, 420)  # an empty part of the panel
FILE_MENU, SETTINGS_MENU, HELP_MENU = (19, 11), (71, 11), (297, 11)
QUIT_ITEM, OMS4_ITEM, ENCRYPTION_ITEM, ABOUT_ITEM = (48, 32), (78, 32), (98, 54), (328, 32)
TELEGRAM = r"^\S+ VDX \d{8} v01 t03, "
MODE7_OK = TELEGRAM + r"access \d+, mode 7, counter \d+, MAC ok, .*, date-time 2022-04-09 10:00:16, volume 0.126 m3, "

checks = {"passed": 0, "failed": 0}


def check(what, ok, detail=""):
    checks["passed" if ok else "failed"] += 1
    print(("ok     " if ok else "FAILED ") + what + ("" if ok or not detail else ": " + str(detail)))


def start(x, args=(), config=CONFIG, program=None):
    d = workdir_with_config(config)
    command = [STICK, *args, "--", program or PROGRAM] if program != "alone" else [PROGRAM]
    s = Session(x, command, d)
    return s, s.find_window("Verdanox 1.0")


def ok_button(s, box):
    _, _, w, h = s.geometry(box)
    return ((124 + w - 10) // 2, h - 18)


def finish(s, name, how):
    status = s.wait_exit(15)
    check(name + ": " + how + " ends with status 0", status == 0, status)
    check(name + ": the port was opened twice (discovery, link) and closed twice",
          s.count("port opened by the program") == 2 and s.count("port closed by the program") == 2,
          s.output()[-600:])


def main_flow(x):
    s, w = start(x, ["--frames", "frames.txt"])
    check("window appears with title 'Verdanox 1.0'", w is not None)
    if w is None:
        return print(s.output())
    s.screenshot(os.path.join(ARTIFACTS, "window.png"), w)
    text = s.ocr(w)
    for word in ("File", "Settings", "Help", "meter #:", "number of SND_NR", "Start sending", "Stop sending", "OMS4"):
        check("window shows '%s'" % word, word in text, text)
    rows = [s.field_text(w, *METER(i)) for i in range(10)]
    check("the ten rows show configuration lines 1 to 10", rows == ["98587%d5634120103" % i for i in range(10)], rows)
    counts = [s.field_text(w, *COUNT(i)) for i in range(10)]
    check("all ten counts start at 0", counts == ["0"] * 10, counts)

    # the same focus state for both pictures: each after a menu was open
    s.click(w, *STOP)  # focus away from the field just read; sending is off
    s.click(w, *SETTINGS_MENU)
    s.key(w, "Escape")
    s.hover(w, *EMPTY)
    before = s.screenshot(os.path.join(ARTIFACTS, "before-oms4.png"), w)
    s.menu(w, SETTINGS_MENU, OMS4_ITEM)
    s.hover(w, *EMPTY)
    after = s.screenshot(os.path.join(ARTIFACTS, "after-oms4.png"), w)
    same = os.popen("compare -metric AE '%s' '%s' null: 2>&1" % (before, after)).read().strip()
    check("choosing OMS4 again changes nothing visible", same == "0", same)

    s.click(w, *START)
    check("Start: two mode-7 telegrams with MAC ok", s.wait_for(MODE7_OK, 2, timeout=13), s.output())
    time.sleep(0.3)
    check("counts of meters 0 and 1 show 1", [s.field_text(w, *COUNT(i)) for i in (0, 1, 2)] == ["1", "1", "0"])
    s.menu(w, SETTINGS_MENU, ENCRYPTION_ITEM)
    check("'Encryption on' unticked: the next telegram is plain",
          s.wait_for(TELEGRAM + r"access 0, plain, ", 1, timeout=7) and s.count(TELEGRAM) == 3, s.output())
    s.click(w, *STOP)
    sent = s.count(TELEGRAM)
    time.sleep(6)
    check("Stop: no further telegram", s.count(TELEGRAM) == sent)
    check("Stop: counts stay", s.field_text(w, *COUNT(2)) == "1")

    s.menu(w, SETTINGS_MENU, ENCRYPTION_ITEM)  # on again
    s.click(w, *START)
    check("Start again resets the counts", s.field_text(w, *COUNT(2)) == "0")
    # a focused text field takes Ctrl+A as "select all", as FOX text fields
    # do: press Start again (it only restarts) so that a button has the focus
    s.click(w, *START)
    s.key(w, "ctrl+a")
    box = s.find_window("About Verdanox", 5)
    check("Ctrl+A opens the about box", box is not None)
    if box:
        s.screenshot(os.path.join(ARTIFACTS, "about.png"), box)
        text = s.ocr(box)
        check("about box shows the stick ID", "USB stick ID: VX00010042" in text, text)
        check("about box shows the stick type", "USB stick type: Virtual RF stick (Verdanox)" in text, text)
        check("ticks go on while the about box is open", s.wait_for(MODE7_OK, 3, timeout=7), s.output())
        s.key(box, "Escape")
        check("Escape closes the about box", s.find_window("About Verdanox", 1) is None)
    s.menu(w, HELP_MENU, ABOUT_ITEM)
    box = s.find_window("About Verdanox", 5)
    check("Help (at the right end of the menu bar) > about opens the box", box is not None)
    if box:
        s.click(box, *ok_button(s, box))
        check("'OK' closes the about box", s.find_window("About Verdanox", 1) is None)
    s.key(w, "ctrl+q")
    finish(s, "main flow", "Ctrl+Q")
    frames = open(os.path.join(s.workdir, "frames.txt")).read().split()
    check("every frame on the wire is 11, 97 or 118 bytes", all(len(f) // 2 in (11, 97, 118) for f in frames), frames)


def quit_paths(x):
    s, w = start(x)
    s.menu(w, FILE_MENU, QUIT_ITEM)
    finish(s, "quit", "File > quit")
    s, w = start(x)
    s.wait_for("port opened by the program", 2, timeout=10)  # the link is open
    time.sleep(0.5)
    s.close_request(w)
    finish(s, "close", "the window manager's close request")


def stick_problems(x):
    # a USB device with the CDC identity but not our serial prefix: not found
    s, w = start(x, ["--serial", "AB00000001"])
    box = s.find_window("USB RF stick not found!", 10)
    check("no stick: the 'USB RF stick not found!' box over the window", box is not None and w is not None)
    if box:
        s.screenshot(os.path.join(ARTIFACTS, "not-found.png"), box)
        text = s.ocr(box)
        check("not-found box text", "A USB RF stick is needed to operate." in text and
              "Visit www.verdanox.example/rf-stick" in text, text)
        s.key(box, "Escape")
    check("no stick: ends with status 0", s.wait_exit(10) == 0)
    check("no stick: only discovery's test-open, no open of the link", s.count("port opened by the program") == 1)
    check("no stick: stderr says what was looked for and what was found",
          s.count(r"^verdanox: USB RF stick not found: looked for a CDC stick \(USB 10C4:0003, serial starting VX\)") == 1
          and s.count(r"^verdanox: found: /dev/ttyACM0 \[USB\\VID_10C4&PID_0003\\AB00000001\]: not a stick$") == 1,
          s.output())

    s, w = start(x, ["--busy"])
    box = s.find_window("Unable to Open USB RF stick.", 10)
    check("busy port: the 'Unable to Open USB RF stick.' box", box is not None, s.output())
    if box:
        s.screenshot(os.path.join(ARTIFACTS, "open-failed.png"), box)
        text = s.ocr(box)
        check("open-failed box text", "No communication with the USB RF stick!" in text and
              "try unplugging and replugging" in text, text)
        s.click(box, *ok_button(s, box))
    check("busy port: ends with status 0", s.wait_exit(10) == 0)
    check("busy port: says which port could not be opened", "Error opening COM port /dev/ttyACM0" in s.output())
    check("busy port: stderr says another program holds it",
          s.count(r"^verdanox: cannot open USB RF stick VX00010042 on /dev/ttyACM0: busy, held by another program \(")
          == 1, s.output())

    s, w = start(x, config=None)
    check("no VDXconfig.txt: the program still starts", w is not None)
    if w:
        check("no VDXconfig.txt: meter fields empty, counts 0",
              s.field_text(w, *METER(0)) == "" and s.field_text(w, *COUNT(0)) == "0")
        s.key(w, "ctrl+q")
    check("no VDXconfig.txt: ends with status 0", s.wait_exit(10) == 0)
    check("no VDXconfig.txt: stderr says where the program looked",
          s.count(r"^verdanox: cannot read %s/VDXconfig.txt: No such file or directory \(all meter addresses and keys "
                  r"are zero\)$" % re.escape(os.path.realpath(s.workdir))) == 1, s.output())


def telegram_gaps(s):
    """Seconds between the telegrams the stick received, from its time stamps."""
    times = []
    for line in s.output().splitlines():
        if re.match(TELEGRAM, line):
            h, m, sec = line.split()[0].split(":")
            times.append(int(h) * 3600 + int(m) * 60 + float(sec))
    return [round(b - a, 2) for a, b in zip(times, times[1:])]


def about_box_within(s, w, seconds, what):
    """Ctrl+A must open the about box within `seconds`; the box is closed again."""
    t0 = time.time()
    s.key(w, "ctrl+a")
    box = s.find_window("About Verdanox", 5)
    check(what, box is not None and time.time() - t0 < seconds, time.time() - t0)
    if box:
        s.key(box, "Escape")


def slow_stick(x):
    # after every telegram the stick announces 4000 bytes and trickles them in
    s, w = start(x, ["--reply", "slow"])
    s.click(w, *START)
    s.wait_for(MODE7_OK, 1, timeout=7)
    time.sleep(1)  # the trickle is under way
    about_box_within(s, w, 1.0, "slow stick: the about box opens within 1 s")
    s.wait_for(MODE7_OK, 3, timeout=12)
    gaps = telegram_gaps(s)
    check("slow stick: telegrams stay 5 s apart", gaps and all(4.9 <= g <= 5.3 for g in gaps), gaps)
    s.key(w, "ctrl+q")
    check("slow stick: ends with status 0", s.wait_exit(10) == 0, s.output()[-500:])


def status_text(s, w):
    """The status bar's text, by OCR of the window's bottom strip."""
    shot = s.screenshot(os.path.join(s.workdir, "status.png"), w)
    _, _, width, height = s.geometry(w)
    strip = shot.replace(".png", "-strip.png")
    subprocess.run(["convert", shot, "-crop", "%dx24+0+%d" % (width, height - 24), strip], check=True, timeout=30)
    return s.ocr_file(strip)


def misbehaving_stick(x):
    # answers mixing acks, 600-byte frames and garbage; pulled out after three
    # telegrams and plugged in again 8 s later
    s, w = start(x, ["--reply", "mixed", "--unplug-after", "3", "--replug-after-seconds", "8", "--frames", "frames.txt"])
    s.click(w, *START)
    check("answers of garbage and 600-byte frames are drained while sending",
          s.wait_for(MODE7_OK, 2, timeout=13), s.output())
    about_box_within(s, w, 1.5, "responsive under garbage: a key is handled within a second")

    s.wait_for("stick pulled out", 1, timeout=12)
    gaps = telegram_gaps(s)
    check("mixed answers: nothing stalls, telegrams stay 5 s apart", len(gaps) == 2 and
          all(4.9 <= g <= 5.3 for g in gaps), gaps)
    check("stick pulled out: the trouble is told on stderr at once",
          s.wait_for("^verdanox: USB RF stick not responding: telegrams are not being sent$", 1, timeout=2), s.output())
    status = status_text(s, w)
    check("stick pulled out: the status line shows the trouble", "not responding" in status, status)
    about_box_within(s, w, 2, "responsive after the stick vanished")
    time.sleep(5)  # a tick while the stick is out
    check("stick pulled out: counts stop rising", [s.field_text(w, *COUNT(i)) for i in (2, 3)] == ["1", "0"])

    back = s.wait_for(r"^verdanox: USB RF stick VX00010042 on /dev/ttyACM1 is back: telegrams are being sent again$",
                      1, timeout=20)
    check("stick plugged in again: sending resumes and stderr says so", back, s.output())
    s.wait_for(MODE7_OK, 5, timeout=12)
    status = status_text(s, w)
    check("stick plugged in again: the status line is 'OMS4' again", "OMS4" in status and "respond" not in status, status)
    s.key(w, "ctrl+q")
    check("unplugged and replugged stick: ends with status 0", s.wait_exit(15) == 0, s.output()[-800:])
    told = [line for line in s.output().splitlines() if line.startswith("verdanox:")]
    check("stderr has exactly the start and the end line", len(told) == 2, told)
    # the frames after the replug continue the counters where they were
    received = open(os.path.join(s.workdir, "frames.txt")).read().split()
    reference = subprocess.run([FRAMES, "--config", CONFIG, "--ticks", "40"], capture_output=True,
                               text=True).stdout.split()
    n = len(received)
    check("frames after the replug continue the sequence (telegrams lost while out)",
          n >= 10 and received[:6] == reference[:6] and
          any(received[6:] == reference[2 * j:2 * j + n - 6] for j in range(4, 20)), received)


def main():
    x = Xvfb()
    try:
        scenarios = (main_flow, quit_paths, stick_problems, slow_stick, misbehaving_stick)
        for scenario in [f for f in scenarios if not ONLY or f.__name__ in ONLY]:
            try:
                scenario(x)
            except Exception:
                check(scenario.__name__ + " ran to its end", False, traceback.format_exc())
    finally:
        x.close()
    print("%d passed, %d failed" % (checks["passed"], checks["failed"]))
    return 1 if checks["failed"] else 0


if __name__ == "__main__":
    sys.exit(main())
