"""Corvane end to end in tmux: German locale, a refused length, a list of
passwords with accented letters, a copy into tmux's clipboard and its clearing."""
import base64
import sys
import time
import unittest

from tmux_harness import TmuxSession

PROGRAM = sys.argv[1] if len(sys.argv) > 1 else "Corvane"
CLEAR = b"\x1b]52;c;\x07"


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

            output = wait_until(lambda: CLEAR in s.output() and s.output(), 10, "the clearing sequence")
            self.assertGreater(time.time() - copied_at, 1.0)
            self.assertLess(output.index(sequence), output.index(CLEAR))

            s.keys("Escape")
            s.wait_for("[24 ")
            s.keys("Escape")
            self.assertEqual(s.exit_status(), 0)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
