"""Drives a program in a private tmux server, as a person at a terminal would.

Each TmuxSession runs one command in its own tmux server (its own socket),
so tests may run side by side without seeing each other's panes.
"""
import os
import shlex
import subprocess
import tempfile
import time
import uuid


class ScreenTimeout(AssertionError):
    pass


def _zombie_status(pid):
    try:
        with open("/proc/%s/stat" % pid) as f:
            stat = f.read()
    except OSError:
        return None
    fields = stat[stat.rindex(")") + 2:].split()
    if fields[0] != "Z":
        return None
    wait_status = int(fields[-1])
    return wait_status >> 8 if wait_status & 0x7F == 0 else -(wait_status & 0x7F)


class TmuxSession:
    def __init__(self, argv, cwd=None, env=None, width=100, height=30, capture_output=False):
        self.socket = "zeyla-" + uuid.uuid4().hex[:12]
        self.target = "main"
        self.output_path = None
        # The terminal type tmux itself emulates, so that keys such as Home and End
        # arrive as the sequences the program expects.
        full_env = {"TERM": "tmux-256color", "LANG": "C.UTF-8"}
        if env:
            full_env.update(env)
        exports = " ".join("%s=%s" % (k, shlex.quote(v)) for k, v in full_env.items())
        command = "env %s %s" % (exports, " ".join(shlex.quote(a) for a in argv))
        self._tmux("-f", "/dev/null", "new-session", "-d", "-s", self.target,
                   "-x", str(width), "-y", str(height),
                   *(["-c", cwd] if cwd else []), "sh -c 'sleep 0.3; exec \"$0\" \"$@\"' " + command)
        self._tmux("set-option", "-t", self.target, "remain-on-exit", "on")
        self._tmux("set-option", "-g", "set-clipboard", "on")
        if capture_output:
            fd, self.output_path = tempfile.mkstemp(prefix="zeyla-pane-")
            os.close(fd)
            self._tmux("pipe-pane", "-t", self.target, "-o", "cat >> " + shlex.quote(self.output_path))

    def _tmux(self, *args, check=True):
        result = subprocess.run(["tmux", "-L", self.socket, *args], capture_output=True, text=True)
        if check and result.returncode != 0:
            raise RuntimeError("tmux %s failed: %s" % (args[0], result.stderr.strip()))
        return result.stdout

    def keys(self, *names):
        """Named keys as tmux knows them: Tab, BTab, Enter, Escape, Up, Down, PPage, NPage, Home, End, BSpace."""
        for name in names:
            self._tmux("send-keys", "-t", self.target, name)
            time.sleep(0.05)

    def type(self, text):
        """Literal text, byte for byte."""
        self._tmux("send-keys", "-t", self.target, "-l", text)
        time.sleep(0.05)

    def screen(self):
        return self._tmux("capture-pane", "-p", "-t", self.target)

    def lines(self):
        return self.screen().split("\n")

    def output(self):
        """Everything the program wrote to the terminal (capture_output=True)."""
        with open(self.output_path, "rb") as f:
            return f.read()

    def paste_buffer(self):
        """tmux's newest paste buffer (where a clipboard sequence lands), or '' when none."""
        return self._tmux("show-buffer", check=False)

    def wait_for(self, text, timeout=20.0):
        deadline = time.time() + timeout
        while True:
            shown = self.screen()
            if text in shown:
                return self._settled(shown, text)
            if time.time() > deadline:
                raise ScreenTimeout("%r not on screen after %.0fs:\n%s" % (text, timeout, shown))
            time.sleep(0.1)

    def _settled(self, shown, text, limit=1.0):
        """The screen once a redraw has finished: a capture can catch curses half-way
        through one. Stops early if the text goes away meanwhile (a screen that moves
        on by itself), returning the last capture that still held it."""
        deadline = time.time() + limit
        while time.time() < deadline:
            time.sleep(0.05)
            again = self.screen()
            if again == shown or text not in again:
                return shown
            shown = again
        return shown

    def wait_gone(self, text, timeout=20.0):
        deadline = time.time() + timeout
        while True:
            shown = self.screen()
            if text not in shown:
                return shown
            if time.time() > deadline:
                raise ScreenTimeout("%r still on screen after %.0fs:\n%s" % (text, timeout, shown))
            time.sleep(0.1)

    def exit_status(self, timeout=20.0):
        """The program's exit code once it has ended (negative: killed by that signal).

        tmux may mark a pane dead before it has the status, and under LeakSanitizer it
        may never reap the program; the zombie's wait status is then read from /proc.
        """
        deadline = time.time() + timeout
        while True:
            state = self._tmux("display-message", "-p", "-t", self.target,
                               "#{pane_dead} #{pane_pid} #{pane_dead_status}").split()
            if state and state[0] == "1":
                if len(state) == 3:
                    return int(state[2])
                status = _zombie_status(state[1])
                if status is not None:
                    return status
            if time.time() > deadline:
                raise ScreenTimeout("program still running after %.0fs:\n%s" % (timeout, self.screen()))
            time.sleep(0.1)

    def close(self):
        self._tmux("kill-server", check=False)
        if self.output_path and os.path.exists(self.output_path):
            os.unlink(self.output_path)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
