"""Vornix end to end in tmux: language list, wizard, code, run, refusals, quit."""
import os
import re
import shutil
import sys
import tempfile
import time
import unittest

from tmux_harness import TmuxSession

PROGRAM = None


class VornixEndToEnd(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="vornix-e2e-")
        self.tree = os.path.join(self.dir, "tree")
        os.makedirs(os.path.join(self.tree, "sub"))
        with open(os.path.join(self.tree, "a.txt"), "w") as f:
            f.write("alpha" * 1000)
        with open(os.path.join(self.tree, "sub", "b.txt"), "w") as f:
            f.write("bravo")
        self.outside = os.path.join(self.dir, "outside.txt")
        with open(self.outside, "w") as f:
            f.write("keep")
        os.symlink(self.outside, os.path.join(self.tree, "link"))
        self.log = os.path.join(self.dir, "wipe.log")

    def tearDown(self):
        shutil.rmtree(self.dir, ignore_errors=True)

    def log_messages(self):
        with open(self.log, encoding="utf-8") as f:
            return [line.rstrip("\n")[22:] for line in f]

    def clear_field(self, s, n=80):
        s.type("\x7f" * n)

    def start_run(self, s, target, start="Enter"):
        """From the list: keep the language, set the target, start with yes=1 already set."""
        s.wait_for("1) English")
        s.keys("Escape")
        s.wait_for("Asistente Vornix")
        self.clear_field(s)
        if target:
            s.type(target)
        s.keys("Tab", "Tab", "Tab", "Tab", "Tab", "Tab")
        if start == "Enter":
            s.keys("Enter")
        else:
            s.type(start)

    def test_wipe_session(self):
        with TmuxSession([PROGRAM], cwd=self.dir, width=100, height=30) as s:
            s.wait_for("1) English", timeout=30)
            s.wait_for("Use \u2191/\u2193 (arrows), W/S, or press 1-6.")
            # Down twice reaches Spanish.
            s.keys("Down", "Down", "Enter")
            screen = s.wait_for("Asistente Vornix")
            self.assertIn("Ruta objetivo", screen)
            self.assertIn("TAB mover | Enter activar | Esc salir", screen)

            s.type(self.tree)
            s.keys("Tab", "BSpace")
            s.type("2")
            s.keys("Tab", "BSpace")
            s.type("1")
            s.keys("Tab", "Tab", "Tab")
            s.type(self.log)
            s.keys("Tab", "Enter")

            screen = s.wait_for("Escriba el token para continuar")
            self.assertIn("Confirmar borrado", screen)
            code = re.search(r"\[(WIPE-[A-HJ-NP-Z2-9]{6})\]", screen).group(1)
            s.type(code)
            s.keys("Tab", "Enter")

            screen = s.wait_for("Salir (Esc)")
            self.assertIn("Listo.", screen)
            self.assertIn(self.tree, screen)
            self.assertFalse(os.path.exists(self.tree))
            with open(self.outside) as f:
                self.assertEqual(f.read(), "keep")
            messages = self.log_messages()
            self.assertEqual(messages[:4], ["Scanning target...", "Vornix started.", "Target: " + self.tree,
                                            "Passes: 2 | Block: 1048576 bytes"])
            self.assertIn("Skipping non-regular file: " + os.path.join(self.tree, "link"), messages)
            self.assertIn("Directory tree removed: " + self.tree, messages)
            self.assertEqual(messages[-1], "Vornix finished.")
            s.keys("Enter")

            # The next pass keeps Spanish and shows the previous values.
            s.wait_for("1) English")
            s.keys("Escape")
            screen = s.wait_for("Asistente Vornix")
            self.assertIn("[2 ", screen)
            self.assertIn("[1 ", screen)
            # Set Yes so that the refusals need no code.
            s.keys("Tab", "Tab", "Tab", "Tab", "BSpace")
            s.type("1")
            s.keys("Tab", "Tab", "Enter")
            # The previous target is gone now: the engine reports it, then the done screen.
            s.wait_for("Salir (Esc)")
            self.assertIn("Path does not exist: " + self.tree, self.log_messages())
            s.keys("Escape")

            for target, line in (("/", "ERROR: refused unsafe path: /"),
                                 (".", "ERROR: refused current working directory: ."),
                                 ("", "ERROR: empty target")):
                self.start_run(s, target)
                s.wait_for("1) English")
                self.assertEqual(self.log_messages()[-1], line)

            # Typed UTF-8 names reach the engine whole: exactly that folder is
            # wiped, and its neighbour named by the ASCII part stays.
            for name, neighbour in (("Fotos \u2605", "Fotos"), ("caf\u00e9", "caf"),
                                    ("x-\u0e20\u0e32\u0e1e", "x-")):
                target = os.path.join(self.dir, name)
                for folder in (target, os.path.join(self.dir, neighbour)):
                    os.makedirs(folder)
                    with open(os.path.join(folder, "keep.txt"), "w") as f:
                        f.write(folder)
                self.start_run(s, target)
                s.wait_for("Salir (Esc)")
                s.keys("Escape")
                self.assertFalse(os.path.exists(target), name)
                with open(os.path.join(self.dir, neighbour, "keep.txt")) as f:
                    self.assertEqual(f.read(), os.path.join(self.dir, neighbour))
                messages = self.log_messages()
                self.assertIn("Target: " + target, messages)
                self.assertEqual(messages[-2], "Directory tree removed: " + target)

            # An Enter sent together with the start key is typed while the
            # wipe runs: it neither closes the done screen nor, after an
            # engine error, picks an entry of the language list that follows.
            quick = os.path.join(self.dir, "quick")
            os.makedirs(quick)
            self.start_run(s, quick, start="\r\r")
            s.wait_for("Salir (Esc)")
            time.sleep(0.5)
            self.assertIn("Salir (Esc)", s.screen())
            s.keys("Escape")
            fifo = os.path.join(self.dir, "pipe")
            os.mkfifo(fifo)
            self.start_run(s, fifo, start="\r\r")
            s.wait_for("1) English")
            time.sleep(0.5)
            self.assertIn("1) English", s.screen())
            self.assertEqual(self.log_messages()[-1][:11], "Exception: ")

            # Esc in the list, then Quit in the wizard ends the program.
            s.keys("Escape")
            s.wait_for("Asistente Vornix")
            s.keys(*["Tab"] * 7)
            s.keys("Enter")
            self.assertEqual(s.exit_status(), 0)
        self.assertTrue(os.path.isdir(self.dir))


if __name__ == "__main__":
    PROGRAM = sys.argv.pop(1)
    unittest.main()
