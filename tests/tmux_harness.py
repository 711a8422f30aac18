"""Drives a program in a private tmux server, as a person at a terminal would.

Each TmuxSession runs one command in its own tmux server (its own socket),
so tests may run side by side without seeing each other's panes. A
JobSession runs it as a shell runs a foreground job, and records how it
ended. Run as a script (--job), this file is that job's parent.
"""
import os
import re
import shlex
import shutil
import signal
import subprocess
import sys
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


def tmux_buffers(socket, env=None):
    """Every paste buffer of the tmux server on socket (a -L name), by name."""
    def run(*args):
        return subprocess.run(["tmux", "-L", socket, *args], capture_output=True, text=True, env=env).stdout
    names = [n for n in run("list-buffers", "-F", "#{buffer_name}").split("\n") if n]
    return {name: run("show-buffer", "-b", name) for name in names}


class TmuxSession:
    """env: variables for the command (None removes one). socket_dir: the
    server listens on the default socket of that TMUX_TMPDIR, where a program
    without $TMUX may find it."""

    def __init__(self, argv, cwd=None, env=None, width=100, height=30, capture_output=False, socket_dir=None):
        self.socket = "default" if socket_dir else "zeyla-" + uuid.uuid4().hex[:12]
        self.tmux_env = dict(os.environ, TMUX_TMPDIR=socket_dir) if socket_dir else None
        self.target = "main"
        self.output_path = None
        # The terminal type tmux itself emulates, so that keys such as Home and End
        # arrive as the sequences the program expects.
        full_env = {"TERM": "tmux-256color", "LANG": "C.UTF-8"}
        if env:
            full_env.update(env)
        exports = " ".join(["-u %s" % k for k, v in full_env.items() if v is None] +
                           ["%s=%s" % (k, shlex.quote(v)) for k, v in full_env.items() if v is not None])
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
        result = subprocess.run(["tmux", "-L", self.socket, *args], capture_output=True, text=True, env=self.tmux_env)
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

    def screen(self, attributes=False):
        """The visible pane; with attributes, as escape sequences (reverse video is \x1b[7m)."""
        return self._tmux("capture-pane", "-p", *(["-e"] if attributes else []), "-t", self.target)

    def lines(self):
        return self.screen().split("\n")

    def output(self):
        """Everything the program wrote to the terminal (capture_output=True)."""
        with open(self.output_path, "rb") as f:
            return f.read()

    def paste_buffer(self):
        """tmux's newest paste buffer (where a clipboard sequence lands), or '' when none."""
        return self._tmux("show-buffer", check=False)

    def buffers(self):
        """Every paste buffer of this session's tmux server, by name: {name: content}."""
        return tmux_buffers(self.socket, self.tmux_env)

    def history(self, visible=False):
        """The lines the pane has scrolled off (and the visible ones too when asked)."""
        return self._tmux("capture-pane", "-p", "-t", self.target, "-S", "-", "-E", "-" if visible else "-1")

    def cursor_visible(self):
        return self._tmux("display-message", "-p", "-t", self.target, "#{cursor_flag}").strip() == "1"

    def terminal_settings(self):
        """The pane's terminal settings, as stty -a words (echo or -echo, icanon...)."""
        tty = self._tmux("display-message", "-p", "-t", self.target, "#{pane_tty}").strip()
        return subprocess.run(["stty", "-F", tty, "-a"], capture_output=True, text=True, check=True).stdout.split()

    def pane_pid(self):
        """The process the pane runs (the program, once the start-up shell has exec'd it)."""
        return int(self._tmux("display-message", "-p", "-t", self.target, "#{pane_pid}").strip())

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

    def _pane_state(self):
        """[pane_dead, pane_pid, pane_dead_status] of the program's pane (the
        status missing while tmux has none)."""
        return self._tmux("display-message", "-p", "-t", self.target,
                          "#{pane_dead} #{pane_pid} #{pane_dead_status}").split()

    def exit_status(self, timeout=20.0):
        """The program's exit code once it has ended (negative: killed by that signal).

        tmux may mark a pane dead before it has the status, and under LeakSanitizer it
        may never reap the program; the zombie's wait status is then read from /proc.
        """
        deadline = time.time() + timeout
        while True:
            state = self._pane_state()
            if state and state[0] == "1":
                if len(state) == 3:
                    return int(state[2])
                status = _zombie_status(state[1])
                if status is not None:
                    return status
            if time.time() > deadline:
                raise ScreenTimeout("program still running after %.0fs:\n%s" % (timeout, self.screen()))
            time.sleep(0.1)

    def killed_by(self, timeout=20.0):
        """The signal that ended the program, or None when it exited. tmux 3.3
        keeps no status for a pane killed by a signal, only its note on the
        dead pane ("Pane is dead (signal N, ...)")."""
        deadline = time.time() + timeout
        while True:
            state = self._pane_state()
            if state and state[0] == "1":
                if len(state) == 3:
                    return None
                # Not reaped yet (or never, see exit_status): the zombie knows.
                status = _zombie_status(state[1])
                if status is not None:
                    return -status if status < 0 else None
                found = re.search(r"Pane is dead \(signal (\d+)", self.screen())
                if found:
                    return int(found.group(1))
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


class NestedTmuxSession(TmuxSession):
    """The command in a tmux (the inner server) that runs in a pane of another
    (this session's server, the outer one), as when tmux is started inside
    tmux. Both keep clipboard texts as paste buffers (set-clipboard on), and
    the inner one passes them on to the outer one, its terminal. Keys, screen
    and buffers() are the outer side's; inner_buffers() and pane_pid() the
    inner one's."""

    def __init__(self, argv, env=None, width=100, height=30, capture_output=False):
        self.inner_socket = "zeyla-inner-" + uuid.uuid4().hex[:12]
        fd, self.inner_config = tempfile.mkstemp(prefix="zeyla-tmux-", suffix=".conf")
        with os.fdopen(fd, "w") as f:
            f.write("set -g set-clipboard on\n"
                    "set -as terminal-features ',tmux*:clipboard'\n"
                    "set -g default-terminal tmux-256color\n"
                    "set -g status off\n"
                    "set -g remain-on-exit on\n")
        inner_env = dict(env or {})
        exports = " ".join("%s=%s" % (k, shlex.quote(v)) for k, v in inner_env.items())
        command = "env %s %s" % (exports, " ".join(shlex.quote(a) for a in argv)) if exports else \
            " ".join(shlex.quote(a) for a in argv)
        super().__init__(["tmux", "-L", self.inner_socket, "-f", self.inner_config, "new-session",
                          "sh -c 'sleep 0.3; exec \"$0\" \"$@\"' " + command],
                         env=env, width=width, height=height, capture_output=capture_output)

    def _inner(self, *args):
        return subprocess.run(["tmux", "-L", self.inner_socket, *args], capture_output=True, text=True).stdout

    def inner_buffers(self):
        return tmux_buffers(self.inner_socket)

    def pane_pid(self):
        return int(self._inner("display-message", "-p", "#{pane_pid}").strip())

    def _pane_state(self):
        return self._inner("display-message", "-p", "#{pane_dead} #{pane_pid} #{pane_dead_status}").split()

    def close(self):
        self._inner("kill-server")
        super().close()
        if os.path.exists(self.inner_config):
            os.unlink(self.inner_config)


class JobSession(TmuxSession):
    """The command as the foreground job of a small parent that stands in for
    a shell with job control: the program owns the terminal, Ctrl-Z stops it,
    cores of any size are allowed, and the parent records the program's pid,
    each stop and the end (raw wait status), with the time of each on the
    monotonic clock. The pane stays after the end, with the terminal as the
    program left it. Runs in a fresh folder of its own (any core lands there)."""

    def __init__(self, argv, **kwargs):
        self.job_dir = tempfile.mkdtemp(prefix="zeyla-job-")
        kwargs.setdefault("cwd", self.job_dir)
        super().__init__([sys.executable, os.path.abspath(__file__), "--job", self.job_dir, *argv], **kwargs)

    def _events(self):
        try:
            with open(os.path.join(self.job_dir, "events")) as f:
                return [line.split() for line in f.read().splitlines()]
        except OSError:
            return []

    def _wait_event(self, kind, count, timeout):
        deadline = time.time() + timeout
        while True:
            found = [e for e in self._events() if e[0] == kind]
            if len(found) >= count:
                return found[count - 1]
            if time.time() > deadline:
                raise ScreenTimeout("no %s of the program after %.0fs:\n%s" % (kind, timeout, self.screen()))
            time.sleep(0.05)

    def program_pid(self, timeout=20.0):
        return int(self._wait_event("started", 1, timeout)[1])

    def ended(self, timeout=20.0):
        """(raw wait status, monotonic time of the end)."""
        event = self._wait_event("ended", 1, timeout)
        return int(event[1]), float(event[2])

    def stopped(self, count=1, timeout=20.0):
        """The monotonic time of the count-th stop."""
        return float(self._wait_event("stopped", count, timeout)[1])

    def resume(self):
        """Gives the stopped program the terminal back and continues it, as fg does."""
        open(os.path.join(self.job_dir, "continue"), "w").close()

    def core_files(self):
        return [n for n in os.listdir(self.job_dir) if n.startswith("core")]

    def close(self):
        # A program that did not end on its own is not left behind, busy.
        started = [e for e in self._events() if e[0] == "started"]
        if started and not [e for e in self._events() if e[0] == "ended"]:
            try:
                os.kill(int(started[0][1]), signal.SIGKILL)
            except OSError:
                pass
        super().close()
        shutil.rmtree(self.job_dir, ignore_errors=True)


def _job_parent(folder, argv):
    def event(*words):
        with open(os.path.join(folder, "events"), "a") as f:
            f.write(" ".join(str(w) for w in words) + "\n")

    ready_r, ready_w = os.pipe()
    pid = os.fork()
    if pid == 0:
        os.close(ready_w)
        os.setpgid(0, 0)
        os.read(ready_r, 1)  # the terminal is ours once this arrives
        import resource
        hard = resource.getrlimit(resource.RLIMIT_CORE)[1]
        resource.setrlimit(resource.RLIMIT_CORE, (hard, hard))
        for s in (signal.SIGINT, signal.SIGQUIT, signal.SIGTSTP, signal.SIGTTOU):
            signal.signal(s, signal.SIG_DFL)
        os.execvp(argv[0], argv)
    os.close(ready_r)
    for s in (signal.SIGINT, signal.SIGQUIT, signal.SIGTSTP, signal.SIGTTOU):
        signal.signal(s, signal.SIG_IGN)
    os.setpgid(pid, pid)
    os.tcsetpgrp(0, pid)
    event("started", pid)
    os.write(ready_w, b"x")
    os.close(ready_w)
    while True:
        _, status = os.waitpid(pid, os.WUNTRACED)
        now = time.monotonic()
        os.tcsetpgrp(0, os.getpgrp())
        if not os.WIFSTOPPED(status):
            event("ended", status, now)
            break
        event("stopped", now)
        go = os.path.join(folder, "continue")
        while not os.path.exists(go):
            time.sleep(0.05)
        os.unlink(go)
        os.tcsetpgrp(0, pid)
        os.kill(-pid, signal.SIGCONT)
    while True:
        signal.pause()


if __name__ == "__main__" and len(sys.argv) > 2 and sys.argv[1] == "--job":
    _job_parent(sys.argv[2], sys.argv[3:])
