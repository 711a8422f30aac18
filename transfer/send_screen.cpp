#include "send_screen.h"

#include <atomic>
#include <string>
#include <thread>

#include "form.h"
#include "handshake.h"
#include "i18n.h"
#include "port.h"
#include "transfer_screens.h"
#include "workers.h"

void run_send_tui(zeylatui::App& app) {
    Form form;
    form.app = &app;
    form.title = tr("p2p_send_title");
    form.status = tr("wizard_status");
    form.fields.push_back(make_form_field(tr("p2p_in_file").c_str(), "", 512));
    form.fields.push_back(make_form_field(tr("p2p_in_port").c_str(), std::to_string(kDefaultPort), 10));
    bool start = false;
    form_set_buttons(form, {FormButton{tr("p2p_btn_start"), [&start] { start = true; }, false},
                            FormButton{tr("p2p_btn_back"), [&start] { start = false; }, false}});
    if (run_form(form) == TUI_CANCELLED || !start) return;

    const std::string path = form.fields[0].value;
    const std::uint16_t port = clamp_port(parse_port(form.fields[1].value));

    KemSession session;
    ShareCard card;
    if (!kem_generate_keypair(session, card)) {
        show_result_screen(tr("err_title"), {tr("p2p_err_zeyla_init")});
        return;
    }
    const std::string host = "0.0.0.0";
    if (!show_share_card(host, port, card.session_text, card.fingerprint)) return;

    TransferLog log;
    std::atomic<bool> done{false};
    std::atomic<bool> success{false};
    std::string error;
    std::thread worker([&port, &error, &success, &done, &log, &session, &path] {
        sender_worker(port, error, success, done, log, session, path);
    });
    show_transfer_progress(tr("p2p_send_title"), tr("p2p_log_transfer"), log, done, success, error);
    worker.join();
}
