// tmux keeps every clipboard text a program sends it as a paste buffer, and
// passes the text on to the terminal it runs in, which may be another tmux.
// Emptying the clipboard there means deleting those buffers with tmux's own
// commands, run as child processes; a text never appears in their arguments.
#pragma once

#include <string>
#include <vector>

// The user's default tmux server: ${TMUX_TMPDIR:-/tmp}/tmux-UID/default, UID
// being the one sudo was run by (SUDO_UID) when set, else the program's own.
std::string tmux_default_socket();

// The tmux server a clipboard text may have landed in: the one $TMUX names,
// else the default server when its socket is there (tmux left $TMUX behind:
// sudo's fresh environment, a program started outside the pane's shell).
// Empty when there is none.
std::string tmux_server_socket();

// The server's socket from a $TMUX value ("socket,pid,session"); empty when
// the value names none.
std::string tmux_socket_from_env(const std::string& value);

// Deletes, in the tmux_server_socket() server and in every tmux server that
// one is nested in (found through its clients' $TMUX), each paste buffer
// whose content is one of texts. When blank_sent, a one-blank text was just
// sent to the terminal to replace the clipboard: its buffers are waited for
// (briefly) and deleted too, in $TMUX's server and in any server that held
// one of texts. False when a server could not be asked.
bool tmux_delete_buffers_holding(const std::vector<std::string>& texts, bool blank_sent);

// Notes the servers the tmux_server_socket() server is nested in, for a
// later deletion that runs when that server has gone with the terminal.
void tmux_remember_servers();
