#include "terminal_check.h"

#include <cstdlib>
#include <curses.h>
#include <term.h>
#include <unistd.h>

#include "escape.h"

bool terminal_can_address_cursor(const char* term) {
    if (term == nullptr || *term == '\0') return false;
    // Loaded beside any description in use (a test's screen), which is put back.
    TERMINAL* const previous = cur_term;
    int status = 0;
    bool can = false;
    if (setupterm(term, STDOUT_FILENO, &status) == OK) {
        const char* cup = tigetstr("cup");
        can = cup != nullptr && cup != reinterpret_cast<char*>(-1);
        del_curterm(cur_term);
    }
    set_curterm(previous);
    return can;
}

bool check_terminal(std::ostream& err) {
    const char* term = std::getenv("TERM");
    if (terminal_can_address_cursor(term)) return true;
    err << "This program needs a terminal that can move the cursor; "
        << (term == nullptr ? std::string("TERM is not set") : "TERM=" + zeylatui::escape_untrusted(term) + " cannot")
        << ".\n";
    err.flush();
    return false;
}
