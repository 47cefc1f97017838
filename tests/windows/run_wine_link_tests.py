"""Runs win_link_tests.exe under wine three times: with pseudo-terminal COM
ports (COM21 echoes, COM22 is quiet, COM23 does not exist), in the folder of
the fake FTD2XX.dll, and in a folder without it.
Usage: run_wine_link_tests.py WIN_LINK_TESTS_EXE FAKE_DLL_DIR [VERDANOX_EXE]"""
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from wine_com import ComPort, remove_port, wait_wineserver  # noqa: E402

exe, fake_dir = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
program = os.path.abspath(sys.argv[3]) if len(sys.argv) > 3 else None
results = []


def run(what, cwd, gtest_filter, env=None):
    out = subprocess.run(["wine", exe, "--gtest_filter=" + gtest_filter], cwd=cwd, env=env or os.environ,
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
    run("FTDI through the fake FTD2XX.dll", fake_dir, "WinLink.FtdiThroughTheLibraryByOrdinal")
    with tempfile.TemporaryDirectory() as empty:
        run("no FTD2XX.dll: no FTDI device, no crash", empty, "WinLink.NoFtdiLibraryMeansNoDevice")
    if program:
        run("the program's icon resource", os.path.dirname(exe), "WinResources.*",
            dict(os.environ, VDX_PROGRAM_EXE=program))
    wait_wineserver()
finally:
    com21.close()
    com22.close()
print("%d passed, %d failed" % (results.count(True), results.count(False)))
sys.exit(0 if all(results) else 1)
