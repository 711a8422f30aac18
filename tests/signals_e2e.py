"""Every program ended by SIGINT, SIGTERM, SIGHUP and SIGQUIT at its first
screen, and at a deeper one where it is busy (a running wipe, a transfer
waiting on its peer in a socket call, a search and a scan reading large
files, the password list): the terminal echoes, reads lines and translates
line ends again and shows the cursor, and the program ended within about a second, by the signal
itself, without a core dump.

  signals_e2e.py PROGRAM first|deeper

The four runs of one screen start together, so that their banners overlap."""
import os
import shutil
import signal
import socket
import sys
import tempfile
import time
import unittest

from tmux_harness import JobSession

PROGRAM = None
SCREEN = None
ENDING = (signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGQUIT)
# From the signal to the end, on a machine busy with other tests.
WITHIN = 1.5


def sparse_file(path, size=1 << 40):
    """A file of holes: reading it costs no disk, and takes long."""
    with open(path, "wb") as f:
        f.truncate(size)


def busy_with_threads(s, count=2, timeout=20.0):
    """Waits until the program runs at least count threads: its workers have started."""
    pid = s.program_pid()
    deadline = time.time() + timeout
    while len(os.listdir("/proc/%d/task" % pid)) < count:
        if time.time() > deadline:
            raise AssertionError("no workers after %.0fs:\n%s" % (timeout, s.screen()))
        time.sleep(0.05)


class Corvane:
    def first(self, s):
        s.wait_for("Choose language", timeout=30)

    def deeper(self, s):
        self.first(s)
        s.keys("Escape")
        s.wait_for("Length:")
        s.keys("Tab", "Tab", "Tab", "Tab", "Enter")
        s.wait_for("Generated Passwords")


class Tovrel:
    def __init__(self, folder):
        # Accepts connections into its backlog and never answers: the
        # receiver's worker waits in the handshake's first read.
        self.peer = socket.socket()
        self.peer.bind(("127.0.0.1", 0))
        self.peer.listen(8)

    def close(self):
        self.peer.close()

    def first(self, s):
        s.wait_for("Zeyla P2P Secure Transfer", timeout=30)

    def deeper(self, s):
        self.first(s)
        s.keys("Down", "Enter")
        s.wait_for("Sender host/IP")
        s.keys("Tab", *["BSpace"] * 5)
        s.type(str(self.peer.getsockname()[1]))
        s.keys("Tab", "Tab", "Enter")
        s.wait_for("Esc = (disabled during transfer)")
        s.wait_for("Connected")


class Vornix:
    def __init__(self, folder):
        self.folder = folder

    def first(self, s):
        s.wait_for("1) English", timeout=30)

    def deeper(self, s):
        target = os.path.join(self.folder, "victim-%d.bin" % s.program_pid())
        with open(target, "wb") as f:
            f.write(b"secret" * (1 << 18))
        self.first(s)
        s.type("1")
        s.wait_for("Target path")
        s.type(target)
        # Many passes of 1 MiB blocks, no code asked (yes = 1).
        s.keys("Tab")
        s.type("\x7f" * 4 + "100000")
        s.keys("Tab")
        s.type("\x7f" * 4 + "1")
        s.keys("Tab", "Tab")
        s.type("\x7f" * 4 + "1")
        s.keys("Tab", "Tab", "Enter")
        s.wait_for("Preparing to overwrite")


class Lumeno:
    def __init__(self, folder):
        self.data = os.path.join(folder, "data")
        os.makedirs(self.data)
        sparse_file(os.path.join(self.data, "holes.bin"))

    def first(self, s):
        s.wait_for("Root path:", timeout=30)

    def deeper(self, s):
        self.first(s)
        s.keys("BSpace")
        s.type(self.data)
        s.keys("Tab", "Tab")
        s.type("NEEDLE")
        s.keys(*["Tab"] * 6, "Enter")
        busy_with_threads(s)


class Gemmit:
    def __init__(self, folder):
        self.data = os.path.join(folder, "data")
        os.makedirs(self.data)
        for name in ("a.bin", "b.bin"):
            sparse_file(os.path.join(self.data, name))

    def first(self, s):
        s.wait_for("Duplicate Finder | Language: EN", timeout=30)

    def deeper(self, s):
        self.first(s)
        s.keys("Enter")
        s.wait_for("Enter the directory to scan recursively")
        s.keys("BSpace")
        s.type(self.data)
        s.keys("Tab", "Enter")
        s.wait_for("Please wait.")
        s.keys("Escape")
        busy_with_threads(s)


class EndedBySignal(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="zeyla-signals-")
        name = os.path.basename(PROGRAM)
        driver = {"Corvane": Corvane, "Tovrel": Tovrel, "Vornix": Vornix, "Lumeno": Lumeno, "Gemmit": Gemmit}[name]
        self.driver = driver() if driver is Corvane else driver(self.folder)
        # Lumeno keeps its last values beside itself: a link of its own here.
        program = os.path.join(self.folder, "bin", name)
        os.makedirs(os.path.dirname(program))
        os.symlink(PROGRAM, program)
        self.sessions = [JobSession([program]) for _ in ENDING]

    def tearDown(self):
        for s in self.sessions:
            s.close()
        if hasattr(self.driver, "close"):
            self.driver.close()
        shutil.rmtree(self.folder, ignore_errors=True)

    def test_terminal_sane_and_the_end_by_the_signal(self):
        for sig, s in zip(ENDING, self.sessions):
            with self.subTest(signal=sig.name):
                getattr(self.driver, SCREEN)(s)
                sent = time.monotonic()
                os.kill(s.program_pid(), sig)
                status, ended = s.ended()
                self.assertTrue(os.WIFSIGNALED(status), status)
                self.assertEqual(os.WTERMSIG(status), sig)
                self.assertFalse(os.WCOREDUMP(status))
                self.assertLess(ended - sent, WITHIN)
                settings = s.terminal_settings()
                for setting in ("echo", "icanon", "icrnl", "onlcr"):
                    self.assertIn(setting, settings)
                self.assertTrue(s.cursor_visible())


if __name__ == "__main__":
    PROGRAM, SCREEN = os.path.abspath(sys.argv[1]), sys.argv[2]
    unittest.main(argv=sys.argv[:1] + sys.argv[3:])
