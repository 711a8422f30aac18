// tmux keeps every clipboard text a program sends it as a paste buffer, and
// passes the text on to the terminal it runs in, which may be another tmux.
// Emptying the clipboard there means deleting those buffers with tmux's own
// commands, run as child processes; a text never appears in their arguments.
#pragma once

#include <string>
#include <vector>

// True when the program runs inside tmux ($TMUX names its server).
bool inside_tmux();

// The server's socket from a $TMUX value ("socket,pid,session"); empty when
// the value names none.
std::string tmux_socket_from_env(const std::string& value);

// Deletes, in the tmux server of $TMUX and in every tmux server that one is
// nested in (found through its clients' $TMUX), each paste buffer whose
// content is one of texts. When blank_sent, a one-blank text was just sent
// to the terminal to replace the clipboard: its buffers are waited for
// (briefly) and deleted too. False when a server could not be asked.
bool tmux_delete_buffers_holding(const std::vector<std::string>& texts, bool blank_sent);

// Notes the servers $TMUX's server is nested in, for a later deletion that
// runs when that server has gone with the terminal.
void tmux_remember_servers();
