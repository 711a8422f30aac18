#include "family_catalog.h"

#include <array>

#include "base_messages.h"
#include "lumo_messages.h"

namespace {
struct VornixText {
    const char* key;
    std::array<const char*, 6> texts;  // en, pt_br, es, fr, de, it
};

// Plain ASCII in every language: German writes its umlauts as two letters.
const VornixText kVornixTexts[] = {
    {"vornix_title", {"Vornix", "Vornix", "Vornix", "Vornix", "Vornix", "Vornix"}},
    {"vornix_wizard_title",
     {"Vornix wizard", "Assistente Vornix", "Asistente Vornix", "Assistant Vornix", "Vornix Assistent",
      "Assistente Vornix"}},
    {"vornix_target", {"Target path", "Caminho alvo", "Ruta objetivo", "Chemin cible", "Zielpfad", "Percorso target"}},
    {"vornix_passes", {"Passes", "Passes", "Pasadas", "Passes", "Durchlaeufe", "Passaggi"}},
    {"vornix_block_mib",
     {"Block size (MiB)", "Tamanho do bloco (MiB)", "Tamano de bloque (MiB)", "Taille du bloc (MiB)",
      "Blockgroesse (MiB)", "Dimensione blocco (MiB)"}},
    {"vornix_dryrun",
     {"Dry run", "Simular (dry-run)", "Simulacion (dry-run)", "Simulation (dry-run)", "Testlauf (dry-run)",
      "Simulazione (dry-run)"}},
    {"vornix_yes", {"Yes", "Yes", "Yes", "Yes", "Yes", "Yes"}},
    {"vornix_log",
     {"Log file (optional)", "Arquivo de log (opcional)", "Archivo de log (opcional)", "Fichier log (optionnel)",
      "Logdatei (optional)", "File di log (opzionale)"}},
    {"vornix_btn_start", {"Start", "Iniciar", "Iniciar", "Demarrer", "Start", "Avvia"}},
    {"vornix_btn_back", {"Back", "Voltar", "Atras", "Retour", "Zurueck", "Indietro"}},
    {"vornix_btn_exit", {"Quit", "Sair", "Salir", "Quitter", "Beenden", "Esci"}},
    {"vornix_btn_go", {"Go", "OK", "OK", "OK", "OK", "OK"}},
    {"vornix_running", {"Wiping...", "Apagando...", "Borrando...", "Effacement...", "Loeschen...", "Cancellazione..."}},
    {"vornix_done", {"Done.", "Concluido.", "Listo.", "Termine.", "Fertig.", "Fatto."}},
    {"vornix_confirm_title",
     {"Confirm wipe", "Confirmar apagamento", "Confirmar borrado", "Confirmer effacement", "Loeschen bestaetigen",
      "Conferma cancellazione"}},
    {"vornix_confirm_hint",
     {"Type token to continue", "Digite o token para continuar", "Escriba el token para continuar",
      "Tapez le token pour continuer", "Token eingeben um fortzufahren", "Digita il token per continuare"}},
    {"vornix_token_label", {"Token", "Token", "Token", "Token", "Token", "Token"}},
};

int language_index(const std::string& lang) {
    for (std::size_t i = 0; i < kLanguageCodes.size(); ++i)
        if (kLanguageCodes[i] == lang) return static_cast<int>(i);
    return -1;
}

TextMap family_texts(const std::string& lang) {
    std::vector<text_entry> entries = catalogs::vornix_messages(lang);
    for (text_entry& e : base_messages(lang, BaseTextForm::ascii)) entries.push_back(std::move(e));
    for (text_entry& e : catalogs::lumo_messages(lang)) entries.push_back(std::move(e));
    return TextMap(entries.begin(), entries.end());
}
}  // namespace

namespace catalogs {
std::vector<text_entry> vornix_messages(const std::string& lang) {
    const int index = language_index(lang);
    std::vector<text_entry> entries;
    if (index < 0) return entries;
    for (const VornixText& t : kVornixTexts) entries.emplace_back(t.key, t.texts[static_cast<std::size_t>(index)]);
    return entries;
}
}  // namespace catalogs

const LanguageTable& language_catalog() {
    static const LanguageTable table = [] {
        LanguageTable t;
        for (const std::string& lang : kLanguageCodes) t.emplace(lang, family_texts(lang));
        return t;
    }();
    return table;
}
