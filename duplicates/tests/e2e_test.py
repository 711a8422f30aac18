"""Gemmit end to end in tmux: language codes, a scan, the summary, the report, About."""
import os
import shutil
import sys
import tempfile
import unittest

from tmux_harness import TmuxSession

PROGRAM = None
FIELD_WIDTH = 60  # value column of a form on a 100-column terminal


def field_cells(value):
    """The bracketed value cell as the form draws it: its last 60 bytes, line feeds as blanks."""
    shown = value[-FIELD_WIDTH:].replace("\n", " ")
    return "[" + shown.ljust(FIELD_WIDTH) + "]"


class GemmitEndToEnd(unittest.TestCase):
    def setUp(self):
        self.base = tempfile.mkdtemp(prefix="gemmit-e2e-")
        self.tree = os.path.join(self.base, "tree")
        self.work = os.path.join(self.base, "work")
        os.makedirs(os.path.join(self.tree, "dups"))
        os.makedirs(os.path.join(self.tree, "other"))
        os.makedirs(self.work)
        for i in range(6):
            self.write("dups/copy%d.txt" % i, "seven copies\n")
        self.write("other/alone.txt", "nothing like it")
        self.write("other/also-alone.txt", "unique")

    def tearDown(self):
        shutil.rmtree(self.base, ignore_errors=True)

    def write(self, relative, content):
        with open(os.path.join(self.tree, relative), "w") as f:
            f.write(content)

    def expected_counters(self):
        return ("Total files scanned: 9\n"
                "Files with errors:   0\n"
                "Candidate files:     7\n"
                "Duplicate groups:    1\n"
                "Duplicate files:     7\n")

    def test_whole_session(self):
        with TmuxSession([PROGRAM], cwd=self.work, width=100, height=30) as s:
            s.wait_for("Duplicate Finder | Language: EN", timeout=30)
            s.wait_for("[ Scan ] [ Language: EN ] [ About ] [ Exit ]")

            # The language button steps through all six codes and back.
            for code in ["PT-BR", "ES", "FR", "DE", "IT", "EN"]:
                s.keys("Tab", "Enter")
                s.wait_for("Duplicate Finder | Language: " + code)
                s.wait_for("[ Language: " + code + " ]")

            # Scan: the prompt offers "." and takes the tree's path instead.
            s.keys("Enter")
            s.wait_for("Enter the directory to scan recursively")
            s.wait_for(field_cells("."))
            s.keys("BSpace")
            s.type(self.tree)
            s.keys("Tab", "Enter")
            s.wait_for(field_cells("Scanning recursively...\n\nPlease wait."))
            # Added while the box waits: found only if the scan starts after it closes.
            self.write("dups/copy6.txt", "seven copies\n")
            s.keys("Escape")
            s.wait_for(" Scan Result ")

            members = sorted(os.listdir(os.path.join(self.tree, "dups")))
            walk = [os.path.join(self.tree, "dups", e.name) for e in os.scandir(os.path.join(self.tree, "dups"))]
            self.assertEqual(sorted(os.path.basename(p) for p in walk), members)
            summary = ("Directory: " + self.tree + "\n\n" + self.expected_counters() +
                       "\nFirst group preview:\n" + "".join(" - " + p + "\n" for p in walk[:5]) + " ...\n")

            # The field shows the summary's end; Backspace uncovers it 60 bytes at a time.
            s.wait_for(field_cells(summary))
            remaining = len(summary)
            while remaining > FIELD_WIDTH:
                s.type("\x7f" * FIELD_WIDTH)  # DEL, the byte Backspace sends
                remaining -= FIELD_WIDTH
                s.wait_for(field_cells(summary[:remaining]))

            # Save: the report lands in the working folder.
            s.keys("Tab", "Enter")
            report = os.path.join(self.work, "duplicates_report.txt")
            s.wait_for(" Report ")
            s.wait_for(field_cells("Report saved to:\n" + report))
            with open(report, "rb") as f:
                written = f.read().decode()
            expected = ("ZeylaGemmit v3.0.0\nScanned directory: " + self.tree + "\n\n" + self.expected_counters() +
                        "\n=== GROUP 1 ===\n" + "".join(p + "  [13 bytes]\n" for p in walk) + "\n")
            self.assertEqual(written, expected)

            # Back on the result screen the edits are gone.
            s.keys("Tab", "Enter")
            s.wait_for(field_cells(summary))
            s.keys("Tab", "Tab", "Enter")
            s.wait_for("Duplicate Finder | Language: EN")

            s.keys("Tab", "Tab", "Enter")
            s.wait_for(" About ")
            s.wait_for(field_cells("ZeylaGemmit v3.0.0\n\nZeylaworks duplicate finder.\n"
                                   "Logic: size -> FNV-1a hash -> byte-by-byte confirmation.\n\n"))
            s.keys("Escape")
            s.wait_for("Duplicate Finder | Language: EN")
            s.keys("Tab", "Tab", "Tab", "Enter")
            self.assertEqual(s.exit_status(), 0)


if __name__ == "__main__":
    PROGRAM = sys.argv.pop(1)
    unittest.main()
