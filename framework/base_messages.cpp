#include "base_messages.h"

#include <array>
#include <stdexcept>

#include "cp1252.h"

namespace {
struct BaseText {
    const char* key;
    std::array<const char*, 6> texts;  // en, pt_br, es, fr, de, it
};

// The one copy of the base texts, as UTF-8; every catalog derives its form.
const BaseText kBaseTexts[] = {
    {"app_title", {"Corvane", "Corvane", "Corvane", "Corvane", "Corvane", "Corvane"}},
    {"wizard_status",
     {"TAB move | Enter activate | Esc exit", "TAB move | Enter ativar | Esc sair",
      "TAB mover | Enter activar | Esc salir", "TAB déplacer | Entrée activer | Échap quitter",
      "TAB wechseln | Enter aktivieren | Esc beenden", "TAB sposta | Invio attiva | Esc esci"}},
    {"menu_status",
     {"Up/Down move | Enter copy | Esc back | Type filter",
      "Cima/Baixo move | Enter copia | Esc voltar | Digite para filtrar",
      "Arriba/Abajo mover | Enter copiar | Esc volver | Escribe para filtrar",
      "Haut/Bas déplacer | Entrée copier | Échap retour | Taper pour filtrer",
      "Hoch/Runter bewegen | Enter kopieren | Esc zurück | Tippen zum Filtern",
      "Su/Giù sposta | Invio copia | Esc indietro | Digita per filtrare"}},
    {"lang_title", {"Language", "Idioma", "Idioma", "Langue", "Sprache", "Lingua"}},
    {"lang_status",
     {"Choose language | Enter select | Esc keep default", "Escolha o idioma | Enter seleciona | Esc mantém padrão",
      "Elige idioma | Enter selecciona | Esc mantiene por defecto",
      "Choisir la langue | Entrée sélectionner | Échap garder défaut",
      "Sprache wählen | Enter wählen | Esc Standard behalten",
      "Scegli lingua | Invio seleziona | Esc mantiene predefinito"}},
    {"lang_en", {"English", "Inglês", "Inglés", "Anglais", "Englisch", "Inglese"}},
    {"lang_ptbr",
     {"Portuguese (Brazil)", "Português (Brasil)", "Portugués (Brasil)", "Portugais (Brésil)",
      "Portugiesisch (Brasilien)", "Portoghese (Brasile)"}},
    {"lang_es", {"Spanish", "Espanhol", "Español", "Espagnol", "Spanisch", "Spagnolo"}},
    {"lang_fr", {"French", "Francês", "Francés", "Français", "Französisch", "Francese"}},
    {"lang_de", {"German", "Alemão", "Alemán", "Allemand", "Deutsch", "Tedesco"}},
    {"lang_it", {"Italian", "Italiano", "Italiano", "Italien", "Italienisch", "Italiano"}},
    {"lbl_length", {"Length:", "Comprimento:", "Longitud:", "Longueur:", "Länge:", "Lunghezza:"}},
    {"lbl_quantity", {"Quantity:", "Quantidade:", "Cantidad:", "Quantité:", "Anzahl:", "Quantità:"}},
    {"lbl_exclude",
     {"Exclude (optional):", "Excluir (opcional):", "Excluir (opcional):", "Exclure (optionnel):",
      "Ausschließen (optional):", "Escludi (opzionale):"}},
    {"lbl_clipclear",
     {"Clipboard clear (sec, 0=off):", "Limpar clipboard (seg, 0=off):", "Limpiar portapapeles (seg, 0=off):",
      "Effacer presse-papiers (sec, 0=off):", "Zwischenablage leeren (Sek, 0=off):", "Pulisci appunti (sec, 0=off):"}},
    {"btn_generate", {"Generate", "Gerar", "Generar", "Générer", "Generieren", "Genera"}},
    {"btn_exit", {"Exit", "Sair", "Salir", "Quitter", "Beenden", "Esci"}},
    {"btn_upper",
     {"Upper (A-Z)", "Maiúsculas (A-Z)", "Mayúsculas (A-Z)", "Majuscules (A-Z)", "Großbuchstaben (A-Z)",
      "Maiuscole (A-Z)"}},
    {"btn_lower",
     {"Lower (a-z)", "Minúsculas (a-z)", "Minúsculas (a-z)", "Minuscules (a-z)", "Kleinbuchstaben (a-z)",
      "Minuscole (a-z)"}},
    {"btn_digits",
     {"Digits (0-9)", "Dígitos (0-9)", "Dígitos (0-9)", "Chiffres (0-9)", "Ziffern (0-9)", "Numeri (0-9)"}},
    {"btn_accented", {"Accented", "Acentos", "Acentos", "Accents", "Akzente", "Accenti"}},
    {"btn_symbols", {"Symbols", "Símbolos", "Símbolos", "Symboles", "Symbole", "Simboli"}},
    {"btn_guarantee",
     {"Guarantee each class", "Garantir cada classe", "Garantizar cada clase", "Garantir chaque classe",
      "Jede Klasse garantieren", "Garantire ogni classe"}},
    {"toggle_on", {"ON", "ON", "ON", "ON", "ON", "ON"}},
    {"toggle_off", {"OFF", "OFF", "OFF", "OFF", "OFF", "OFF"}},
    {"msg_box_status",
     {"Enter OK | Esc close", "Enter OK | Esc fechar", "Enter OK | Esc cerrar", "Entrée OK | Échap fermer",
      "Enter OK | Esc schließen", "Invio OK | Esc chiudi"}},
    {"msg_label", {"Message:", "Mensagem:", "Mensaje:", "Message:", "Nachricht:", "Messaggio:"}},
    {"err_title", {"Error", "Erro", "Error", "Erreur", "Fehler", "Errore"}},
    {"warn_title", {"Warning", "Aviso", "Aviso", "Avertissement", "Warnung", "Avviso"}},
    {"copied_title", {"Copied", "Copiado", "Copiado", "Copié", "Kopiert", "Copiato"}},
    {"generated_title",
     {"Generated Passwords", "Senhas geradas", "Contraseñas generadas", "Mots de passe générés", "Erzeugte Passwörter",
      "Password generate"}},
    {"err_invalid_length",
     {"Invalid Length. Use an integer > 0.", "Comprimento inválido. Use um inteiro > 0.",
      "Longitud inválida. Usa un entero > 0.", "Longueur invalide. Utilisez un entier > 0.",
      "Ungültige Länge. Verwenden Sie eine Zahl > 0.", "Lunghezza non valida. Usa un intero > 0."}},
    {"err_invalid_quantity",
     {"Invalid Quantity. Use an integer > 0.", "Quantidade inválida. Use um inteiro > 0.",
      "Cantidad inválida. Usa un entero > 0.", "Quantité invalide. Utilisez un entier > 0.",
      "Ungültige Anzahl. Verwenden Sie eine Zahl > 0.", "Quantità non valida. Usa un intero > 0."}},
    {"err_invalid_clipclear",
     {"Invalid Clipboard clear seconds. Use an integer >= 0.", "Valor inválido. Use um inteiro >= 0.",
      "Valor inválido. Usa un entero >= 0.", "Valeur invalide. Utilisez un entier >= 0.",
      "Ungültiger Wert. Verwenden Sie eine Zahl >= 0.", "Valore non valido. Usa un intero >= 0."}},
    {"err_no_passwords",
     {"No passwords generated.", "Nenhuma senha foi gerada.", "No se generaron contraseñas.",
      "Aucun mot de passe généré.", "Keine Passwörter erzeugt.", "Nessuna password generata."}},
    {"msg_copied_1",
     {"Password copied to clipboard (UTF-16).", "Senha copiada para o clipboard (UTF-16).",
      "Contraseña copiada al portapapeles (UTF-16).", "Mot de passe copié dans le presse-papiers (UTF-16).",
      "Passwort in die Zwischenablage kopiert (UTF-16).", "Password copiata negli appunti (UTF-16)."}},
    {"msg_copied_2",
     {"Paste it somewhere safe.", "Cole em algum lugar seguro.", "Pégala en un lugar seguro.",
      "Collez-le quelque part en sécurité.", "Fügen Sie es an einem sicheren Ort ein.",
      "Incollala in un posto sicuro."}},
    {"msg_clip_will_clear",
     {"Clipboard will be cleared in %d seconds.", "O clipboard será limpo em %d segundos.",
      "El portapapeles se borrará en %d segundos.", "Le presse-papiers sera effacé dans %d secondes.",
      "Zwischenablage wird in %d Sekunden geleert.", "Gli appunti verranno puliti in %d secondi."}},
    {"msg_clip_failed",
     {"Could not copy to clipboard.", "Não foi possível copiar para o clipboard.", "No se pudo copiar al portapapeles.",
      "Impossible de copier dans le presse-papiers.", "Kopieren in die Zwischenablage fehlgeschlagen.",
      "Impossibile copiare negli appunti."}},
    {"err_gen_failed_prefix",
     {"Generation failed:", "Falha na geração:", "Falló la generación:", "Échec de génération:",
      "Generierung fehlgeschlagen:", "Generazione fallita:"}},
    {"err_gen_failed_unknown",
     {"Generation failed: unknown error.", "Falha na geração: erro desconhecido.",
      "Falló la generación: error desconocido.", "Échec de génération: erreur inconnue.",
      "Generierung fehlgeschlagen: unbekannter Fehler.", "Generazione fallita: errore sconosciuto."}},
};

// Texts of the ASCII form that do not follow the accent rule.
struct AsciiException {
    const char* lang;
    const char* key;
    const char* text;
};
const AsciiException kAsciiExceptions[] = {
    {"es", "msg_copied_2", "Pagala en un lugar seguro."},
    {"es", "msg_clip_will_clear", "El portapapeles se borrare en %d segundos."},
    {"es", "err_gen_failed_prefix", "Falle la generacion:"},
    {"es", "err_gen_failed_unknown", "Falle la generacion: error desconocido."},
    {"fr", "lang_ptbr", "Portugais (Brasil)"},
    {"fr", "err_gen_failed_prefix", "echec de generation:"},
    {"fr", "err_gen_failed_unknown", "echec de generation: erreur inconnue."},
    {"it", "lbl_quantity", "Quantite:"},
    {"it", "err_invalid_quantity", "Quantite non valida. Usa un intero > 0."},
};

std::size_t language_index(const std::string& lang) {
    for (std::size_t i = 0; i < kLanguageCodes.size(); ++i)
        if (kLanguageCodes[i] == lang) return i;
    throw std::invalid_argument("no base texts for language " + lang);
}
}  // namespace

std::string strip_accents(const std::string& utf8) {
    std::string out;
    for (std::size_t i = 0; i < utf8.size();) {
        char32_t cp = 0;
        std::size_t n = decode_utf8(utf8, i, cp);
        if (n == 0) n = 1, cp = U'?';
        i += n;
        switch (cp) {
            case U'\u00E0':
            case U'\u00E1':
            case U'\u00E3':
            case U'\u00E4':
                out += 'a';
                break;
            case U'\u00E7':
                out += 'c';
                break;
            case U'\u00E9':
            case U'\u00EA':
                out += 'e';
                break;
            case U'\u00ED':
                out += 'i';
                break;
            case U'\u00F1':
                out += 'n';
                break;
            case U'\u00F3':
            case U'\u00F6':
                out += 'o';
                break;
            case U'\u00F9':
            case U'\u00FA':
            case U'\u00FC':
                out += 'u';
                break;
            case U'\u00C9':
                out += 'E';
                break;
            case U'\u00DF':
                out += "ss";
                break;
            default:
                out += cp < 0x80 ? static_cast<char>(cp) : '?';
        }
    }
    return out;
}

std::vector<text_entry> base_messages(const std::string& lang, BaseTextForm form) {
    const std::size_t li = language_index(lang);
    std::vector<text_entry> out;
    out.reserve(std::size(kBaseTexts));
    for (const BaseText& entry : kBaseTexts) {
        std::string text = entry.texts[li];
        switch (form) {
            case BaseTextForm::utf8:
                break;
            case BaseTextForm::cp1252:
                text = utf8_to_cp1252(text);
                break;
            case BaseTextForm::ascii:
                text = strip_accents(text);
                for (const AsciiException& ex : kAsciiExceptions)
                    if (lang == ex.lang && std::string(entry.key) == ex.key) text = ex.text;
                break;
        }
        out.emplace_back(entry.key, std::move(text));
    }
    return out;
}
