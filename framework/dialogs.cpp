#include "dialogs.h"

#include "form.h"
#include "i18n.h"
#include "menu.h"

namespace {
MessageBoxStyle box_style = MessageBoxStyle::translated;
}

void set_message_box_style(MessageBoxStyle style) { box_style = style; }

void tui_message_box(zeylatui::App& app, const std::string& title, const std::string& message) {
    Form form;
    form.app = &app;
    form.title = title;
    std::string label;
    switch (box_style) {
        case MessageBoxStyle::translated:
            form.status = tr("msg_box_status");
            label = tr("msg_label");
            break;
        case MessageBoxStyle::search:
            form.status = tr("lumo_msg_ok_continue");
            label = "Message";
            break;
        case MessageBoxStyle::fixed_english:
            form.status = "Message";
            label = "Text";
            break;
    }
    form.fields.push_back(make_form_field(label.c_str(), message, 4096));
    form_set_buttons(form, {FormButton{"OK", {}, false}});
    run_form(form);
}

void tui_select_language(zeylatui::App& app) {
    Menu menu;
    menu.app = &app;
    menu.title = tr("lang_title");
    menu.status = tr("lang_status");
    menu.wrap = true;
    menu.selected = 0;
    const char* const keys[] = {"lang_en", "lang_ptbr", "lang_es", "lang_fr", "lang_de", "lang_it"};
    std::vector<MenuItem> items;
    for (std::size_t i = 0; i < kLanguageCodes.size(); ++i) {
        const std::string code = kLanguageCodes[i];
        items.push_back(MenuItem{tr(keys[i]), [code] { set_language(code); }});
    }
    menu_set_items(menu, std::move(items));
    run_menu(menu);
}
