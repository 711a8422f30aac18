"""Two Tovrel processes on 127.0.0.1: one sends, one receives, both driven by keys."""
import os
import shutil
import socket
import sys
import tempfile
import time
import unittest

from tmux_harness import TmuxSession

PROGRAM = None
MENU_TITLE = "Zeyla P2P Secure Transfer"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class TovrelEndToEnd(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.mkdtemp(prefix="tovrel-e2e-")
        cls.src = os.path.join(cls.root, "src")
        cls.dst = os.path.join(cls.root, "dst")
        os.makedirs(cls.src)
        os.makedirs(cls.dst)
        cls.payload = os.urandom(300 * 1024 + 17)
        with open(os.path.join(cls.src, "payload.bin"), "wb") as f:
            f.write(cls.payload)
        # Both banners wait five seconds; start the two programs together.
        cls.sender = TmuxSession([PROGRAM], cwd=cls.src)
        cls.receiver = TmuxSession([PROGRAM], cwd=cls.dst)
        # Keys pressed while the banner waits reach no screen: here they would
        # choose "Exit" in the main menu.
        cls.receiver.wait_for("Zeylaworks v3", timeout=30)
        cls.receiver.keys("Down", "Down", "Down", "Enter")
        cls.sender.wait_for(MENU_TITLE, timeout=30)
        cls.receiver.wait_for(MENU_TITLE, timeout=30)

    @classmethod
    def tearDownClass(cls):
        cls.sender.close()
        cls.receiver.close()
        shutil.rmtree(cls.root, ignore_errors=True)

    def start_send(self, path, port):
        s = self.sender
        s.keys("Enter")
        s.wait_for("File to send")
        s.type(path)
        s.keys("Tab", *["BSpace"] * 5)
        s.type(str(port))
        s.keys("Tab", "Enter")

    def open_receive_form(self):
        r = self.receiver
        r.keys("Down", "Enter")
        r.wait_for("Sender host/IP")

    def back_to_menu(self, session):
        session.wait_for("Press Enter to return")
        session.keys("Enter")
        session.wait_for("Send File")
        session.wait_gone("Press Enter to return")

    def test_1_file_arrives_and_both_sides_end_done(self):
        port = free_port()
        self.start_send("payload.bin", port)
        card = self.sender.wait_for("Share this card with the receiver")
        self.assertIn("0.0.0.0", card)
        self.assertIn(str(port), card)
        self.assertIn("KYBER1024", card)
        self.sender.keys("Enter")
        self.sender.wait_for("Waiting for receiver to connect...")
        self.assertIn("Listening on port %d..." % port, self.sender.screen())

        self.open_receive_form()
        r = self.receiver
        r.keys("Tab", *["BSpace"] * 5)
        r.type(str(port))
        r.keys("Tab", "Tab", "Enter")

        sent = self.sender.wait_for("Done.", timeout=30)
        got = r.wait_for("Done.", timeout=30)
        self.assertIn("P2P Secure Transfer - Send", sent)
        self.assertIn("P2P Secure Transfer - Receive", got)
        self.assertNotIn("Error", sent)
        self.assertNotIn("Error", got)
        with open(os.path.join(self.dst, "payload.bin"), "rb") as f:
            self.assertEqual(f.read(), self.payload)
        self.assertEqual(sorted(os.listdir(self.dst)), ["payload.bin"])
        self.back_to_menu(self.sender)
        self.back_to_menu(r)

    def test_2_back_and_escape_leave_without_listening(self):
        s = self.sender
        s.keys("Enter")
        s.wait_for("File to send")
        s.keys("Escape")
        s.wait_for("Receive File")
        s.keys("Enter")
        s.wait_for("File to send")
        s.keys("Tab", "Tab", "Tab", "Enter")
        s.wait_for("Receive File")
        port = free_port()
        self.start_send("payload.bin", port)
        s.wait_for("Share this card with the receiver")
        s.keys("Escape")
        s.wait_for("Receive File")
        with socket.socket() as probe:
            self.assertNotEqual(probe.connect_ex(("127.0.0.1", port)), 0)

    def test_3_port_in_use(self):
        with socket.socket() as holder:
            holder.bind(("127.0.0.1", 0))
            holder.listen(1)
            port = holder.getsockname()[1]
            self.start_send("payload.bin", port)
            self.sender.wait_for("Share this card with the receiver")
            self.sender.keys("Enter")
            shown = self.sender.wait_for("Could not listen on port %d." % port)
            self.assertIn("Error", shown)
            self.back_to_menu(self.sender)

    def test_4_empty_host(self):
        self.open_receive_form()
        r = self.receiver
        r.keys(*["BSpace"] * 9, "Tab", "Tab", "Tab", "Enter")
        shown = r.wait_for("Host cannot be empty.")
        self.assertIn("Error", shown)
        self.back_to_menu(r)

    def test_5_missing_output_folder(self):
        self.open_receive_form()
        r = self.receiver
        r.keys("Tab", "Tab", "BSpace")
        r.type("no_such_folder")
        r.keys("Tab", "Enter")
        shown = r.wait_for("Output directory does not exist.")
        self.assertIn("Error", shown)
        self.back_to_menu(r)

    def assert_result_stays(self, session, text):
        """The result screen is up and stays up although keys were pressed before it came."""
        session.wait_for(text, timeout=30)
        time.sleep(1.0)
        shown = session.screen()
        self.assertIn(text, shown)
        self.assertIn("Press Enter to return", shown)

    def test_6_keys_pressed_during_a_transfer_do_not_close_the_result(self):
        # Receiver: a peer that accepts and says nothing holds it on the progress screen.
        with socket.socket() as silent:
            silent.bind(("127.0.0.1", 0))
            silent.listen(1)
            self.open_receive_form()
            r = self.receiver
            r.keys("Tab", *["BSpace"] * 5)
            r.type(str(silent.getsockname()[1]))
            r.keys("Tab", "Tab", "Enter")
            conn, _ = silent.accept()
            r.wait_for("Esc = (disabled during transfer)")
            r.keys("Enter", "Escape")
            time.sleep(0.3)
            conn.close()
            self.assert_result_stays(r, "Zeyla handshake failed.")
        self.back_to_menu(r)

        # Sender: keys pressed while it waits for the receiver and sends.
        port = free_port()
        self.start_send("payload.bin", port)
        self.sender.wait_for("Share this card with the receiver")
        self.sender.keys("Enter")
        self.sender.wait_for("Waiting for receiver to connect...")
        self.sender.keys("Enter", "Escape", "Enter")
        self.open_receive_form()
        r.keys("Tab", *["BSpace"] * 5)
        r.type(str(port))
        r.keys("Tab", "Tab", "Enter")
        self.assert_result_stays(self.sender, "Done.")
        r.wait_for("Done.", timeout=30)
        self.back_to_menu(self.sender)
        self.back_to_menu(r)

    def test_7_exit_and_escape_end_with_zero(self):
        self.sender.keys("Escape")
        self.assertEqual(self.sender.exit_status(), 0)
        self.receiver.keys("Down", "Down", "Down", "Enter")
        self.assertEqual(self.receiver.exit_status(), 0)


if __name__ == "__main__":
    PROGRAM = os.path.abspath(sys.argv.pop(1))
    unittest.main()
