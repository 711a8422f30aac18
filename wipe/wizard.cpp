#include "wizard.h"

#include "form.h"
#include "i18n.h"
#include "wipe_engine.h"

namespace {
constexpr std::uint64_t kMaxU32 = 4294967295u;

bool is_c_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
}  // namespace

std::optional<std::uint64_t> vornix::parse_u32_like_stoul(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && is_c_space(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    const std::size_t digits_start = i;
    std::uint64_t value = 0;
    bool overflow = false;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (overflow) continue;
        value = value * 10 + static_cast<std::uint64_t>(text[i] - '0');
        overflow = value > kMaxU32;
    }
    if (i == digits_start || overflow) return std::nullopt;
    // strtoul negates in the unsigned type: "-1" is the largest value.
    if (negative) value = (kMaxU32 + 1 - value) & kMaxU32;
    return value;
}

std::uint64_t vornix::parse_passes(const std::string& text) {
    const auto v = parse_u32_like_stoul(text);
    if (!v || *v == 0) return 1;
    return *v;
}

std::uint64_t vornix::parse_block_mib(const std::string& text) {
    const auto v = parse_u32_like_stoul(text);
    if (!v) return 4;
    if (*v == 0) return 1;
    return *v > 1024 ? 1024 : *v;
}

bool vornix::parse_flag(const std::string& text) { return text == "1" || text == "y" || text == "Y" || text == "true"; }

bool wizard_config(zeylatui::App& app, WipeConfig& cfg) {
    Form form;
    form.app = &app;
    form.title = tr("vornix_wizard_title");
    form.status = tr("wizard_status");
    form.fields.push_back(make_form_field(tr("vornix_target").c_str(), cfg.target.string(), 512));
    form.fields.push_back(make_form_field(tr("vornix_passes").c_str(), std::to_string(cfg.passes), 128));
    form.fields.push_back(make_form_field(tr("vornix_block_mib").c_str(), std::to_string(cfg.block_mib), 128));
    form.fields.push_back(make_form_field(tr("vornix_dryrun").c_str(), cfg.dry_run ? "1" : "0", 128));
    form.fields.push_back(make_form_field(tr("vornix_yes").c_str(), cfg.yes ? "1" : "0", 128));
    form.fields.push_back(make_form_field(tr("vornix_log").c_str(), cfg.log_file, 512));

    bool start = false;
    bool* flag = &start;
    form_set_buttons(
        form, {{tr("vornix_btn_start"), [flag] { *flag = true; }}, {tr("vornix_btn_exit"), [flag] { *flag = false; }}});
    form.focus = 0;

    const int r = run_form(form);
    if (r < 0 || !start) return false;

    cfg.target = std::filesystem::path(vornix::trim(form.fields[0].value));
    cfg.passes = vornix::parse_passes(form.fields[1].value);
    cfg.block_mib = vornix::parse_block_mib(form.fields[2].value);
    cfg.dry_run = vornix::parse_flag(form.fields[3].value);
    cfg.yes = vornix::parse_flag(form.fields[4].value);
    cfg.log_file = form.fields[5].value;
    return true;
}
