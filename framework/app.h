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
