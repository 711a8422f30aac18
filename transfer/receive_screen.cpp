#include "receive_screen.h"

#include <atomic>
#include <string>
#include <thread>

#include "form.h"
#include "i18n.h"
#include "port.h"
#include "transfer_screens.h"
#include "workers.h"

void run_receive_tui(zeylatui::App& app) {
    Form form;
    form.app = &app;
    form.title = tr("p2p_recv_title");
    form.status = tr("wizard_status");
    form.fields.push_back(make_form_field(tr("p2p_in_host").c_str(), "127.0.0.1", 256));
    form.fields.push_back(make_form_field(tr("p2p_in_port").c_str(), std::to_string(kDefaultPort), 10));
    form.fields.push_back(make_form_field(tr("p2p_in_outdir").c_str(), ".", 512));
    bool start = false;
    form_set_buttons(form, {FormButton{tr("p2p_btn_connect"), [&start] { start = true; }, false},
                            FormButton{tr("p2p_btn_back"), [&start] { start = false; }, false}});
    if (run_form(form) == TUI_CANCELLED || !start) return;

    const std::string host = form.fields[0].value;
    const std::uint16_t port = clamp_port(parse_port(form.fields[1].value));
    const std::string out_dir = form.fields[2].value.empty() ? "." : form.fields[2].value;

    TransferLog log;
    std::atomic<bool> done{false};
    std::atomic<bool> success{false};
    std::string error;
    std::thread worker([&host, &port, &out_dir, &log, &success, &error, &done] {
        tovrel::receiver_thread(host, port, out_dir, log, success, error, done);
    });
    show_transfer_progress(tr("p2p_recv_title"), tr("p2p_log_transfer"), log, done, success, error);
    worker.join();
}
