"""How the programs start: a terminal that cannot address the cursor is refused
before the banner, and keys pressed during the banner neither echo nor act."""
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

from tmux_harness import TmuxSession

PROGRAMS = sys.argv[1:]
MESSAGE = b"This program needs a terminal that can move the cursor; "


def corvane():
    return next(p for p in PROGRAMS if os.path.basename(p) == "Corvane")


def tty_settings(session):
    tty = session._tmux("display-message", "-p", "-t", session.target, "#{pane_tty}").strip()
    return subprocess.run(["stty", "-F", tty, "-a"], capture_output=True, text=True, check=True).stdout.split()


class WrappedRun:
    """Corvane under a shell that, once it has ended, records its status and the
    terminal's settings (the pane's terminal is gone when its last process is)."""

    def __init__(self):
        self.folder = tempfile.mkdtemp(prefix="zeyla-start-")
        script = '"$0"; echo $? > "$1/status"; stty -a > "$1/stty"'
        self.session = TmuxSession(["sh", "-c", script, corvane(), self.folder])

    def program_pid(self):
        shell = int(self.session._tmux("display-message", "-p", "-t", self.session.target, "#{pane_pid}"))
        with open("/proc/%d/task/%d/children" % (shell, shell)) as f:
            return int(f.read().split()[0])

    def after_exit(self, timeout=20.0):
        """The program's shell status and the terminal's settings once the shell is done."""
        deadline = time.time() + timeout
        path = os.path.join(self.folder, "stty")
        while not (os.path.exists(path) and os.path.getsize(path) > 0):
            if time.time() > deadline:
                raise AssertionError("program still running:\n" + self.session.screen())
            time.sleep(0.1)
        time.sleep(0.1)
        with open(os.path.join(self.folder, "status")) as f:
            status = int(f.read())
        with open(path) as f:
            return status, f.read().split()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.session.close()
        shutil.rmtree(self.folder, ignore_errors=True)


class TerminalWithoutCursorAddressing(unittest.TestCase):
    def test_every_program_says_so_in_one_line_and_ends_with_status_1(self):
        base = {k: v for k, v in os.environ.items() if k != "TERM"}
        cases = [("dumb", MESSAGE + b"TERM=dumb cannot.\n")]
        cases += [(None, MESSAGE + b"TERM is not set.\n")]
        for program in PROGRAMS:
            for term, line in cases:
                env = dict(base, **({"TERM": term} if term else {}))
                result = subprocess.run([program], env=env, stdin=subprocess.DEVNULL, capture_output=True, timeout=4)
                self.assertEqual(result.returncode, 1, (program, term))
                self.assertEqual(result.stderr, line, (program, term))
                self.assertEqual(result.stdout, b"", (program, term))  # no banner


@unittest.skipUnless(any(os.path.basename(p) == "Corvane" for p in PROGRAMS), "Corvane is not built")
class KeysDuringTheBanner(unittest.TestCase):
    def test_are_not_echoed_and_do_not_reach_the_first_screen(self):
        with WrappedRun() as run:
            s = run.session
            s.wait_for("Zeylaworks v3")
            self.assertIn("-echo", tty_settings(s))
            # Down sent before curses' keypad mode arrives as Esc [ B.
            s.keys("Down", "Down")
            s.type("q")
            time.sleep(0.3)
            banner = s.screen()
            self.assertIn("Corvane", banner)
            for echo in ("^[", "[B", "q"):
                self.assertNotIn(echo, banner)

            shown = s.wait_for("Choose language")
            filter_row = next(line for line in shown.split("\n") if "Filter:" in line)
            self.assertEqual(filter_row.split("Filter:")[1].strip(" \u2502x"), "", shown)
            # The selection is still on the first language, the form's fields at their defaults.
            s.keys("Enter")
            shown = s.wait_for("Length:")
            self.assertIn("[16 ", shown)
            self.assertIn("[1 ", shown)
            s.keys("Escape")
            status, settings = run.after_exit()
            self.assertEqual(status, 0)
            self.assertIn("echo", settings)

    def test_a_signal_during_the_banner_gives_echo_back(self):
        for sig in (signal.SIGTERM, signal.SIGINT):
            with WrappedRun() as run:
                run.session.wait_for("Zeylaworks v3")
                self.assertIn("-echo", tty_settings(run.session))
                os.kill(run.program_pid(), sig)
                status, settings = run.after_exit()
                self.assertEqual(status, 128 + sig)
                self.assertIn("echo", settings)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
