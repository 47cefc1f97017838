"""Runs win_link_tests.exe under wine three times: with pseudo-terminal COM
ports (COM21 echoes, COM22 is quiet, COM23 does not exist); as a copy beside
the fake FTD2XX.dll; and from its own folder (no DLL beside it) with the fake
DLL in the working folder, which must not be loaded.
Usage: run_wine_link_tests.py WIN_LINK_TESTS_EXE FAKE_DLL_DIR [VERDANOX_EXE]"""
import os
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from wine_com import ComPort, remove_port, wait_wineserver  # noqa: E402

exe, fake_dir = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
program = os.path.abspath(sys.argv[3]) if len(sys.argv) > 3 else None
results = []


def run(what, cwd, gtest_filter, env=None, program=exe):
    out = subprocess.run(["wine", program, "--gtest_filter=" + gtest_filter], cwd=cwd, env=env or os.environ,
                         stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=180)
    text = out.stdout.replace("\r\n", "\n")
    print(text)
    skipped = "[  SKIPPED ]" in text
    ok = out.returncode == 0 and "[  PASSED  ]" in text and not skipped
    results.append(ok)
    print(("ok     " if ok else "FAILED ") + what)


com21, com22 = ComPort("COM21", echo=True), ComPort("COM22")
remove_port("COM23")
try:
    env = dict(os.environ, VDX_LOOPBACK_COM="COM21")
    run("discovery and COM port on pseudo-terminals", os.path.dirname(exe),
        "WinLink.DiscoveryThroughSetupApi:WinLink.ComPortSettingsAndBytes", env)
    beside = os.path.join(fake_dir, os.path.basename(exe))
    shutil.copy(exe, beside)
    run("FTDI through the fake FTD2XX.dll beside the program", fake_dir, "WinLink.FtdiThroughTheLibraryByOrdinal",
        program=beside)
    run("a FTD2XX.dll in the working folder is not loaded", fake_dir,
        "WinLink.FtdiLibraryIsNotTakenFromTheWorkingFolder")
    if program:
        run("the program's icon, version, manifest and GUI subsystem", os.path.dirname(exe), "WinResources.*",
            dict(os.environ, VDX_PROGRAM_EXE=program))
    wait_wineserver()
finally:
    com21.close()
    com22.close()
print("%d passed, %d failed" % (results.count(True), results.count(False)))
sys.exit(0 if all(results) else 1)
