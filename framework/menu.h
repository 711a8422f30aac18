// The filterable list screen.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "app.h"
#include "form.h"

struct MenuItem {
    std::string label;
    std::function<void()> action;
};

struct Menu {
    zeylatui::App* app = nullptr;
    std::string title = "Zeyla Menu";
    std::string status = "Up/Down move | Enter select | Esc back | Type to filter";
    std::vector<MenuItem> items;
    bool wrap = true;
    int selected = 0;
    int top = 0;
    std::string filter;
    // The rows show secrets (passwords): redrawn without clearing the screen,
    // and blanked before the list is left (see mark_secret_rows).
    bool holds_secrets = false;
};

bool filter_match(const std::string& label, const std::string& filter);
int find_filter_match(const Menu& menu, int from);
void menu_set_items(Menu& menu, std::vector<MenuItem>&& items);
void draw_menu(Menu& menu);
int run_menu(Menu& menu);
