"""Lumeno end to end: wizard, search, details, statistics, language, restart."""
import os
import shutil
import sys
import tempfile
import unittest

from tmux_harness import TmuxSession

BINARY = None


class LumenoEndToEnd(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="lumeno_e2e_")
        # The program works in its own folder: run it through a link in a
        # fresh folder so that lumeno_conf.dat lands there.
        self.bin_dir = os.path.join(self.tmp, "bin")
        os.makedirs(self.bin_dir)
        self.program = os.path.join(self.bin_dir, "Lumeno")
        os.symlink(BINARY, self.program)
        self.data = os.path.join(self.tmp, "data")
        os.makedirs(os.path.join(self.data, "sub"))
        for name, text in (("a.txt", "first\nhello needle world\n"), ("b.txt", "nothing here\n"),
                           ("sub/c.log", "needle again\n")):
            with open(os.path.join(self.data, name), "w") as f:
                f.write(text)
        self.start_dir = os.path.join(self.tmp, "elsewhere")
        os.makedirs(self.start_dir)
        self.conf = os.path.join(self.bin_dir, "lumeno_conf.dat")

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def conf_values(self):
        values = {}
        with open(self.conf) as f:
            lines = f.read().split("\n")
        self.assertEqual(lines[0], "# Lumeno TUI last values")
        for line in lines[1:]:
            if "=" in line:
                key, value = line.split("=", 1)
                values[key] = value
        return values

    def to_button(self, s, index):
        s.keys(*(["Tab"] * (8 + index)))
        s.keys("Enter")

    def test_search_details_statistics_language_and_restart(self):
        with TmuxSession([self.program], cwd=self.start_dir, width=100, height=30) as s:
            s.wait_for("Root path:", timeout=30)
            self.assertIn("Language: en", s.screen())
            self.to_button(s, 1)
            s.wait_for("Statistics: ON")
            s.keys("BSpace")
            s.type(self.data)
            s.keys("Tab", "BSpace")
            s.type("*.txt")
            s.keys("Tab")
            s.type("NEEDLE")
            s.keys(*(["Tab"] * 6))
            s.keys("Enter")

            shown = s.wait_for("Lumeno - Results")
            self.assertIn(os.path.join(self.data, "a.txt"), shown)
            self.assertNotIn("c.log", shown)
            s.keys("Enter")
            shown = s.wait_for(" Details ")
            self.assertIn("[MATCH]needle[/MATCH] world", shown)
            s.keys("Escape")
            shown = s.wait_for(" Statistics ")
            self.assertIn("Elapsed: 0.", shown)
            self.assertIn(" s ", shown)
            s.keys("Escape")
            shown = s.wait_for("Root path:")
            self.assertIn("[" + self.data, shown)
            values = self.conf_values()
            self.assertEqual(values["rootPath"], self.data)
            self.assertEqual(values["filenamePattern"], "*.txt")
            self.assertEqual(values["contentPattern"], "NEEDLE")
            self.assertEqual(values["showStatistics"], "1")
            self.assertNotIn("lang", values)

            # A missing root: the box says why nothing matched, and the copy of the
            # line on standard error does not stay on screen once the box is closed.
            s.keys(*(["BSpace"] * len(self.data)))
            s.type("/nonexistent_lumeno_root")
            s.keys(*(["Tab"] * 8))
            s.keys("Enter")
            shown = s.wait_for("[ERROR] Path does not exist: /nonexistent_lumeno_root")
            box_lines = [line for line in shown.split("\n") if "Message" in line]
            self.assertEqual(len(box_lines), 1, shown)
            self.assertIn("ed. [ERROR] Path does not exist: /nonexistent_lumeno_root]", box_lines[0])
            self.assertEqual(shown.count("[ERROR]"), 1, shown)
            s.keys("Escape")
            shown = s.wait_for(" Statistics ")
            self.assertNotIn("[ERROR]", shown)
            s.keys("Escape")
            s.wait_for("Root path:")

            self.to_button(s, 3)
            s.wait_for("Idioma: pt_br")
            self.assertIn("Pasta raiz:", s.screen())
            self.assertEqual(self.conf_values()["lang"], "pt_br")
            s.keys("Escape")
            self.assertEqual(s.exit_status(), 0)
        self.assertFalse(os.path.exists(os.path.join(self.start_dir, "lumeno_conf.dat")))

        with TmuxSession([self.program], cwd=self.start_dir, width=100, height=30) as s:
            shown = s.wait_for("Pasta raiz:", timeout=30)
            self.assertIn("[/nonexistent_lumeno_root", shown)
            self.assertIn("[*.txt", shown)
            self.assertIn("[NEEDLE", shown)
            self.assertIn("Estatísticas: ON", shown)
            self.assertIn("Idioma: pt_br", shown)

            # A root whose name is too long for the system: the search throws, the
            # loop shows it and returns to the wizard without the statistics box.
            s.keys(*(["BSpace"] * len("/nonexistent_lumeno_root")))
            s.type("a" * 256)
            s.keys(*(["Tab"] * 8))
            s.keys("Enter")
            shown = s.wait_for(" FATAL ")
            self.assertIn("Pressione OK para continuar", shown)
            s.keys("Escape")
            shown = s.wait_for("Pasta raiz:")
            self.assertNotIn("Estatísticas ", shown)
            s.keys("Escape")
            self.assertEqual(s.exit_status(), 0)
        self.assertEqual(self.conf_values()["rootPath"], "a" * 256)


if __name__ == "__main__":
    BINARY = os.path.abspath(sys.argv.pop(1))
    unittest.main()
