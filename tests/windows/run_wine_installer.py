"""The Windows installer under wine, in a scratch prefix of its own: a silent
install (/S) creates the program folder, the Start-menu shortcut with its
working folder and the sample configuration; the installed verdanox-frames.exe
prints what the native tool prints; a second install keeps the user's
configuration; a silent uninstall removes the program, its shortcut and its
Add/Remove Programs entry and keeps the VDXconfig.txt the user changed.
The zip beside it must hold the same files.
Usage: run_wine_installer.py INSTALLER ZIP NATIVE_FRAMES_TOOL CONFIG VERSION"""
import os
import struct
import subprocess
import sys
import tempfile
import zipfile

PROFILES = ["gas-fixed", "gas", "water", "warm-water", "heat", "heat-cost-allocator", "electricity"]

installer, zip_path, native, config = (os.path.abspath(a) for a in sys.argv[1:5])
version = sys.argv[5]
if not os.access(native, os.X_OK):
    print("native verdanox-frames not built: skipped")
    sys.exit(77)
checks = []


def check(what, ok, detail=""):
    checks.append(bool(ok))
    print(("ok     " if ok else "FAILED ") + what + ("" if ok else ": " + str(detail)))


def shortcut_working_dir(path):
    """The "Start in" folder of a .lnk file (MS-SHLLINK StringData)."""
    data = open(path, "rb").read()
    flags = struct.unpack_from("<I", data, 20)[0]
    at = 76
    if flags & 0x01:  # HasLinkTargetIDList
        at += 2 + struct.unpack_from("<H", data, at)[0]
    if flags & 0x02:  # HasLinkInfo
        at += struct.unpack_from("<I", data, at)[0]
    unicode = flags & 0x80
    for bit in (0x04, 0x08, 0x10):  # name, relative path, working directory
        if not flags & bit:
            if bit == 0x10:
                return None
            continue
        count = struct.unpack_from("<H", data, at)[0]
        size = count * (2 if unicode else 1)
        text = data[at + 2:at + 2 + size].decode("utf-16-le" if unicode else "latin-1")
        at += 2 + size
        if bit == 0x10:
            return text.rstrip("\x00")  # wine counts the terminator
    return None


with tempfile.TemporaryDirectory(prefix="vdx-installer.") as scratch:
    env = dict(os.environ, WINEPREFIX=os.path.join(scratch, "prefix"), HOME=os.path.join(scratch, "home"),
               WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
    os.makedirs(env["HOME"])

    def wine(*args, **kw):
        out = subprocess.run(["wine", *args], env=env, stdin=subprocess.DEVNULL, capture_output=True, text=True,
                             timeout=300, **kw)
        subprocess.run(["wineserver", "-w"], env=env, timeout=300)
        return out

    subprocess.run(["wineboot", "-i"], env=env, stdin=subprocess.DEVNULL, capture_output=True, timeout=300)
    subprocess.run(["wineserver", "-w"], env=env, timeout=300)
    drive = os.path.join(env["WINEPREFIX"], "drive_c")
    user = [u for u in os.listdir(os.path.join(drive, "users")) if u not in ("Public",)][0]
    program = os.path.join(drive, "Program Files", "Verdanox")
    documents = os.path.join(drive, "users", user, "Documents", "Verdanox")
    link = os.path.join(drive, "users", user, "AppData", "Roaming", "Microsoft", "Windows", "Start Menu", "Programs",
                        "Verdanox.lnk")
    key = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Verdanox"

    wine(installer, "/S")
    files = sorted(os.listdir(program)) if os.path.isdir(program) else []
    shipped = sorted(["verdanox.exe", "verdanox-frames.exe", "verdanox-send.exe", "VDXconfig.txt", "README-Windows.txt",
                      "LICENSE.txt", "THIRD-PARTY-NOTICES.txt", "FOX-LICENSE.txt", "FOX-LICENSE-ADDENDUM.txt",
                      "rig-ten-meters.toml", "rig-month-end.toml", "rig-mixed-security.toml", "rig-all-profiles.toml",
                      "rig-water-street.toml"] + ["profile-%s.toml" % p for p in PROFILES])
    check("silent install: the program folder in Program Files", files == sorted(shipped + ["uninstall.exe"]), files)
    zipped = sorted(n.split("/", 1)[1] for n in zipfile.ZipFile(zip_path).namelist() if not n.endswith("/"))
    check("the zip holds the same files in verdanox-%s-win64/" % version, zipped == shipped, zipped)
    sample = os.path.join(documents, "VDXconfig.txt")
    check("the sample VDXconfig.txt in Documents\\Verdanox", os.path.isfile(sample) and
          open(sample, "rb").read() == open(os.path.join(program, "VDXconfig.txt"), "rb").read())
    working = shortcut_working_dir(link) if os.path.isfile(link) else None
    check("the Start-menu shortcut starts in Documents\\Verdanox",
          working is not None and working.lower() == ("C:\\users\\%s\\Documents\\Verdanox" % user).lower(), working)
    entry = wine("reg", "query", key, "/v", "DisplayVersion", "/reg:64").stdout
    check("an Add/Remove Programs entry with the version", version in entry, entry)

    frames = wine(os.path.join(program, "verdanox-frames.exe"), "--ticks", "12", cwd=documents).stdout
    expected = subprocess.run([native, "--config", config, "--ticks", "12"], capture_output=True, text=True).stdout
    check("the installed verdanox-frames.exe prints what the native tool prints",
          frames.replace("\r\n", "\n") == expected, frames[:200])

    with open(sample, "ab") as f:
        f.write(b"; the user's own change\r\n")
    changed = open(sample, "rb").read()
    wine(installer, "/S")
    check("installing again keeps the user's VDXconfig.txt", open(sample, "rb").read() == changed)

    wine(os.path.join(program, "uninstall.exe"), "/S")
    check("silent uninstall: the program folder is gone", not os.path.exists(program),
          os.listdir(program) if os.path.isdir(program) else "")
    check("silent uninstall: the shortcut is gone", not os.path.exists(link))
    gone = wine("reg", "query", key, "/reg:64")
    check("silent uninstall: the Add/Remove Programs entry is gone", gone.returncode != 0, gone.stdout)
    check("silent uninstall: the changed VDXconfig.txt is kept",
          os.path.isfile(sample) and open(sample, "rb").read() == changed)
    subprocess.run(["wineserver", "-k"], env=env, timeout=60)

print("%d passed, %d failed" % (checks.count(True), checks.count(False)))
sys.exit(0 if all(checks) else 1)
