"""Corvane end to end in tmux: German locale, a refused length, a list of
passwords with accented letters, a copy into tmux's clipboard and its clearing;
the clearing when the program ends early (Esc, signals, the terminal closing)
or stops (Ctrl-Z), in a tmux nested in another and in one $TMUX does not name;
no password in the history of terminals without an alternate screen.

Run one test by naming it after the program: e2e_test.py PROGRAM Class.test"""
import base64
import os
import re
import shutil
import signal
import sys
import tempfile
import time
import unittest

from tmux_harness import JobSession, NestedTmuxSession, TmuxSession

PROGRAM = sys.argv[1] if len(sys.argv) > 1 else "Corvane"
# Inside tmux the clipboard is cleared by a single blank: tmux ignores an empty one.
CLEAR = b"\x1b]52;c;IA==\x07"


def wait_until(check, timeout, what):
    deadline = time.time() + timeout
    while time.time() < deadline:
        value = check()
        if value:
            return value
        time.sleep(0.1)
    raise AssertionError("gave up waiting for " + what)


class CorvaneEndToEnd(unittest.TestCase):
    def test_generate_copy_and_clear_in_german(self):
        with TmuxSession([PROGRAM], env={"LANG": "de_DE.UTF-8"}, capture_output=True) as s:
            # The language menu opens in the locale's language; Esc keeps it.
            shown = s.wait_for("Sprache", timeout=20)
            for text in ("Englisch", "Deutsch", "Sprache wählen | Enter wählen | Esc Standard behalten"):
                self.assertIn(text, shown)
            s.keys("Escape")
            s.wait_for("Länge:")
            self.assertIn("Ausschließen (optional):", s.screen())

            # Length 5000: the generator's refusal under the German prefix.
            s.keys("BSpace", "BSpace")
            s.type("5000")
            s.keys("Tab", "Tab", "Tab", "Tab", "Enter")
            shown = s.wait_for("Length too large (max 4096)")
            self.assertIn(" Fehler ", shown)
            self.assertIn("[Generierung fehlgeschlagen: Length too large (max 4096)", shown)
            s.keys("Escape")
            s.wait_for("[5000 ")

            # The form starts again on the length field, with the four
            # default classes now on: 3 passwords of 24, clearing after 2 s,
            # accented letters added.
            s.keys("BSpace", "BSpace", "BSpace", "BSpace")
            s.type("24")
            s.keys("Tab", "BSpace")
            s.type("3")
            s.keys("Tab", "Tab", "BSpace")
            s.type("2")
            s.keys(*["Tab"] * 5, "Enter")
            s.wait_for("Akzente: ON")
            s.keys("BTab", "BTab", "BTab", "BTab", "Enter")

            shown = s.wait_for("Erzeugte Passwörter")
            rows = s.lines()
            passwords = [rows[5 + i][4:4 + 24] for i in range(3)]
            for p in passwords:
                self.assertEqual(len(p), 24, rows)
                self.assertTrue(any(not c.isascii() for c in p), p)
            self.assertEqual(rows[8][4:].strip(" x\u2502"), "", rows)

            s.keys("Enter")
            shown = s.wait_for(" Kopiert ")
            copied_at = time.time()
            # The box shows the end of the text: paragraphs 2 and 3 with the
            # empty line between them as blanks.
            self.assertIn("[icheren Ort ein.  Zwischenablage wird in 2 Sekunden geleert.]", shown)

            sequence = b"\x1b]52;c;" + base64.b64encode(passwords[0].encode("utf-8")) + b"\x07"
            wait_until(lambda: sequence in s.output(), 5, "the copy sequence")
            buffer = wait_until(lambda: s.paste_buffer(), 5, "tmux's buffer")
            self.assertEqual(buffer, passwords[0])

            # No paste buffer holds the password once cleared, nor the blank
            # that replaced it.
            wait_until(lambda: not holding(s.buffers(), passwords[0]), 10, "the password to leave tmux")
            self.assertGreater(time.time() - copied_at, 1.0)
            output = s.output()
            self.assertLess(output.index(sequence), output.index(CLEAR))
            wait_until(lambda: s.buffers() == {}, 5, "the blank to leave tmux")

            # Copied again with the clearing far off, then the program is
            # left: the clearing is carried out before it ends.
            s.keys("Escape")
            s.wait_for("[24 ")
            s.keys("Tab", "Tab", "Tab", "BSpace")
            s.type("600")
            s.keys("Tab", "Enter")
            s.wait_for("Erzeugte Passwörter")
            password = s.lines()[5][4:4 + 24]
            s.keys("Enter")
            s.wait_for("in 600 Sekunden")
            self.assertTrue(holding(s.buffers(), password), s.buffers())
            s.keys("Escape")
            s.wait_for("[24 ")
            s.keys("Escape")
            self.assertEqual(s.exit_status(), 0)
            self.assertEqual(s.buffers(), {})


def holding(buffers, text):
    return [name for name, content in buffers.items() if content == text]


def copy_first_password(s, clear_seconds):
    """From the first options form (English): 2 passwords of 20 characters,
    the clearing time given, Generate; Enter copies the first. Returns it."""
    s.wait_for("Choose language")
    s.keys("Escape")
    s.wait_for("Length:")
    s.keys("BSpace", "BSpace")
    s.type("20")
    s.keys("Tab", "BSpace")
    s.type("2")
    s.keys("Tab", "Tab", "BSpace")
    s.type(str(clear_seconds))
    s.keys("Tab", "Enter")
    s.wait_for("Generated Passwords")
    password = s.lines()[5][4:4 + 20]
    s.keys("Enter")
    s.wait_for("Clipboard will be cleared in %d seconds." % clear_seconds)
    return password


class CorvaneLeavesNoPasswordInTmux(unittest.TestCase):
    def assert_cleared_when_ended(self, end, signal_number):
        with TmuxSession([PROGRAM]) as s:
            password = copy_first_password(s, 600)
            self.assertTrue(holding(s.buffers(), password), s.buffers())
            end(s)
            # The program still ends by the signal, once the clipboard is cleared.
            self.assertEqual(s.killed_by(), signal_number)
            self.assertEqual(s.buffers(), {})

    def test_sigterm(self):
        self.assert_cleared_when_ended(lambda s: os.kill(s.pane_pid(), signal.SIGTERM), signal.SIGTERM)

    def test_ctrl_c(self):
        self.assert_cleared_when_ended(lambda s: s.keys("C-c"), signal.SIGINT)

    def test_sigusr1(self):
        self.assert_cleared_when_ended(lambda s: os.kill(s.pane_pid(), signal.SIGUSR1), signal.SIGUSR1)

    def test_sigpipe(self):
        self.assert_cleared_when_ended(lambda s: os.kill(s.pane_pid(), signal.SIGPIPE), signal.SIGPIPE)

    def test_ctrl_z_clears_before_the_stop(self):
        with JobSession([PROGRAM]) as s:
            password = copy_first_password(s, 3)
            copied = time.time()
            s.keys("C-z")
            s.stopped()
            settings = s.terminal_settings()
            self.assertIn("echo", settings)
            self.assertIn("icanon", settings)
            # Within the clearing time and a second, while stopped: no timer ran it.
            wait_until(lambda: not holding(s.buffers(), password), max(copied + 4 - time.time(), 0.1), "the clearing")
            self.assertEqual([e[0] for e in s._events()], ["started", "stopped"])
            s.resume()
            s.wait_for("Clipboard will be cleared in 3 seconds.")  # drawn again
            s.keys("Escape")
            s.wait_for("Length:")
            s.keys("Escape")
            self.assertEqual(s.ended()[0], 0)

    def test_ctrl_backslash_leaves_no_core(self):
        # Ctrl-\ ends the program too, and a core dump would be a file
        # holding the passwords: the pane's shell allows cores of any size.
        folder = tempfile.mkdtemp(prefix="zeyla-core-")
        try:
            with TmuxSession(["sh", "-c", 'ulimit -c unlimited; cd "$1" && exec "$0"', PROGRAM, folder]) as s:
                password = copy_first_password(s, 600)
                self.assertTrue(holding(s.buffers(), password), s.buffers())
                s.keys("C-\\")
                self.assertEqual(s.killed_by(), signal.SIGQUIT)
                self.assertEqual(s.buffers(), {})
            self.assertEqual(os.listdir(folder), [])
        finally:
            shutil.rmtree(folder, ignore_errors=True)

    def test_terminal_closed(self):
        # The pane goes away with its terminal; the server stays for the
        # other window, and its buffers must not keep the password.
        with TmuxSession([PROGRAM]) as s:
            password = copy_first_password(s, 600)
            pid = s.pane_pid()
            s._tmux("new-window", "-d", "sleep 600")
            self.assertTrue(holding(s.buffers(), password), s.buffers())
            s._tmux("kill-pane", "-t", s.target)
            wait_until(lambda: not process_alive(pid), 10, "the program to end")
            self.assertFalse(holding(s.buffers(), password), s.buffers())

    def test_nested_tmux_closed(self):
        # The inner tmux goes away with the program's terminal; the outer
        # one, found while the inner one was still there, is still emptied.
        with NestedTmuxSession([PROGRAM]) as s:
            password = copy_first_password(s, 600)
            wait_until(lambda: holding(s.buffers(), password), 5, "the copy in the outer tmux")
            pid = s.pane_pid()
            s._inner("kill-server")
            wait_until(lambda: not process_alive(pid), 10, "the program to end")
            self.assertFalse(holding(s.buffers(), password), s.buffers())

    def test_nested_tmux_outer_buffers(self):
        with NestedTmuxSession([PROGRAM], capture_output=True) as s:
            password = copy_first_password(s, 2)
            # The copy reached both servers, the outer one as the inner one's terminal.
            wait_until(lambda: holding(s.buffers(), password), 5, "the copy in the outer tmux")
            self.assertTrue(holding(s.inner_buffers(), password), s.inner_buffers())
            wait_until(lambda: not holding(s.buffers(), password), 10, "the password to leave the outer tmux")
            self.assertFalse(holding(s.inner_buffers(), password), s.inner_buffers())
            # The outer terminal was also sent the blank that replaces the
            # password where a terminal keeps one clipboard of its own.
            sent = re.findall(rb"\x1b\]52;[a-z]*;([A-Za-z0-9+/=]*)", s.output())
            self.assertEqual(sent, [base64.b64encode(password.encode("utf-8")), b"IA=="])
            s.keys("Escape")
            s.wait_for("Length:")
            s.keys("Escape")
            self.assertEqual(s.exit_status(), 0)
            self.assertEqual(s.inner_buffers(), {})
            wait_until(lambda: s.buffers() == {}, 5, "the blank to leave the outer tmux")


class CorvaneWithoutTmuxVariable(unittest.TestCase):
    """tmux without $TMUX in the program's environment (sudo, ssh from a pane)."""

    def setUp(self):
        self.socket_dir = tempfile.mkdtemp(prefix="zeyla-tmuxdir-")

    def tearDown(self):
        shutil.rmtree(self.socket_dir, ignore_errors=True)

    def test_default_server_is_found_and_emptied(self):
        env = {"TMUX": None, "TMUX_TMPDIR": self.socket_dir}
        with TmuxSession([PROGRAM], env=env, socket_dir=self.socket_dir) as s:
            password = copy_first_password(s, 2)
            self.assertTrue(holding(s.buffers(), password), s.buffers())
            wait_until(lambda: not holding(s.buffers(), password), 10, "the password to leave tmux")

    def test_unknown_server_gets_the_blank_on_top(self):
        # The program looks for the default server in an empty folder; its
        # own tmux (another socket) keeps the old buffer below the blank.
        env = {"TMUX": None, "TMUX_TMPDIR": self.socket_dir}
        with TmuxSession([PROGRAM], env=env) as s:
            password = copy_first_password(s, 2)
            wait_until(lambda: s.paste_buffer() == " ", 10, "the blank on top of tmux's buffers")
            self.assertTrue(holding(s.buffers(), password))


class CorvaneHistory(unittest.TestCase):
    """Terminals without an alternate screen copy a cleared screen into their
    history; the passwords must never be in it."""

    def assert_no_password_in_history(self, term, check_screen=None):
        with TmuxSession([PROGRAM], env={"TERM": term}) as s:
            s.wait_for("Choose language", timeout=30)
            s.keys("Escape")
            s.wait_for("Length:")
            s.keys("BSpace", "BSpace")
            s.type("20")
            s.keys("Tab", "BSpace")
            s.type("3")
            s.keys("Tab", "Tab", "Tab", "Enter")
            s.wait_for("Generated Passwords")
            passwords = [s.lines()[5 + i][4:4 + 20] for i in range(3)]
            if check_screen:
                check_screen(s, passwords)
            for key in ("Down", "Down", "Down", "Up", "End", "Home"):
                s.keys(key)
            s.type("x")
            time.sleep(0.3)
            history = s.history()
            for p in passwords:
                self.assertNotIn(p, history)
            s.keys("Enter")
            s.wait_for("Paste it somewhere safe.")
            s.keys("Escape")
            s.wait_for("Length:")
            shown = s.history(visible=True)
            for p in passwords:
                self.assertNotIn(p, shown)
            s.keys("Escape")
            self.assertEqual(s.exit_status(), 0)
            shown = s.history(visible=True)
            for p in passwords:
                self.assertNotIn(p, shown)

    def test_linux_console(self):
        self.assert_no_password_in_history("linux")

    def test_vt100_marks_the_selection_and_ignores_shift_tab(self):
        def check_screen(s, passwords):
            rows = s.screen(attributes=True).split("\n")
            selected = next(r for r in rows if passwords[0] in r)
            self.assertIn("\x1b[7m", selected)
            self.assertNotIn("\x1b[7m", next(r for r in rows if passwords[1] in r))

        self.assert_no_password_in_history("vt100", check_screen)
        with TmuxSession([PROGRAM], env={"TERM": "vt100"}) as s:
            s.wait_for("Choose language", timeout=30)
            s.keys("Escape")
            s.wait_for("Length:")
            # vt100 knows no Shift+Tab: the key is ignored, never Esc and "[Z".
            s.keys("BTab", "BTab")
            s.type("7")
            shown = s.wait_for("[167 ")
            self.assertNotIn("[Z", shown)
            rows = s.screen(attributes=True).split("\n")
            self.assertIn("\x1b[7m", next(r for r in rows if "Length:" in r))
            s.keys("Escape")
            self.assertEqual(s.exit_status(), 0)


def process_alive(pid):
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except OSError:
        return False


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1] + sys.argv[2:])
