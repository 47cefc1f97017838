"""Pseudo-terminals as wine COM ports: each is linked as
$WINEPREFIX/dosdevices/comN and put in raw mode before any program opens it
(a fresh pseudo-terminal has XON/XOFF on, and the program keeps the driver's
flow-control settings). The masters stay open until wineserver has ended."""
import os
import subprocess
import threading
import tty


class ComPort:
    def __init__(self, name, echo=False):
        self.name = name
        self.master, self.slave = os.openpty()
        tty.setraw(self.slave)
        tty.setraw(self.master)
        self.path = os.path.join(os.environ["WINEPREFIX"], "dosdevices", name.lower())
        if os.path.lexists(self.path):
            os.unlink(self.path)
        os.symlink(os.ttyname(self.slave), self.path)
        self.received = bytearray()
        self.echo = echo
        self.running = True
        self.thread = threading.Thread(target=self._serve, daemon=True)
        self.thread.start()

    def _serve(self):
        import select
        while self.running:
            ready, _, _ = select.select([self.master], [], [], 0.05)
            if not ready:
                continue
            try:
                data = os.read(self.master, 4096)
            except OSError:
                continue
            self.received += data
            if self.echo:
                os.write(self.master, data)

    def close(self):
        self.running = False
        self.thread.join()
        os.unlink(self.path)
        os.close(self.master)
        os.close(self.slave)


def remove_port(name):
    path = os.path.join(os.environ["WINEPREFIX"], "dosdevices", name.lower())
    if os.path.lexists(path):
        os.unlink(path)


def wait_wineserver():
    subprocess.run(["wineserver", "-w"], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=120)
