// The application object, the colour roles and the two drawing primitives.
#pragma once

#include <string>

namespace zeylatui {
class App {
public:
    App() = default;
    App(const App&) = delete;
    App& operator=(const App&) = delete;
    ~App();

    bool active = false;
};
}  // namespace zeylatui

inline constexpr short PAIR_FRAME = 1;
inline constexpr short PAIR_FOCUS = 2;
inline constexpr short PAIR_STATUS = 3;

void app_start(zeylatui::App& app);
void app_shutdown(zeylatui::App& app);

void draw_box(int y, int x, int h, int w, int pair);
std::string fit_text(const std::string& s, int w);

// Colour pair on or off, only when the terminal has colours.
void pair_on(int pair);
void pair_off(int pair);
// Text at (y, x) in a colour pair (0: uncoloured).
void draw_text(int y, int x, const std::string& text, int pair = 0);
// Text of a field, button or row that may have the focus: when it has it, in
// PAIR_FOCUS, or in reverse video on a terminal without colours, so that the
// user always sees what Enter acts on.
void draw_focusable(int y, int x, const std::string& text, bool focused);

// Rows [top, top + height) from column left, width cells wide, show secrets
// (passwords) until blank_secret_rows. Terminals without an alternate screen
// copy a cleared screen into their history, so such rows are blanked on
// screen before anything clears it: when their screen is left, and before
// the program stops or ends by a signal.
void mark_secret_rows(int top, int left, int height, int width);
// Blanks the marked rows on the terminal and forgets them; nothing when none are.
void blank_secret_rows();
