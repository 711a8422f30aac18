// The transfer program's texts: the base set plus its own p2p_ keys, UTF-8.
#include <array>
#include <cstddef>

#include "base_messages.h"
#include "i18n.h"

namespace {
struct OwnText {
    const char* key;
    std::array<const char*, 6> texts;  // en, pt_br, es, fr, de, it
};

const OwnText kOwnTexts[] = {
    {"p2p_title",
     {"Zeyla P2P Secure Transfer", "Zeyla Transferência Segura P2P", "Transferencia Segura P2P Zeyla",
      "Transfert Sécurisé P2P Zeyla", "Zeyla P2P Sicherer Transfer", "Trasferimento Sicuro P2P Zeyla"}},
    {"p2p_main_status",
     {"Up/Down move | Enter select | Esc exit | Type filter",
      "Cima/Baixo move | Enter seleciona | Esc sai | Digite para filtrar",
      "Arriba/Abajo mueve | Enter selecciona | Esc sale | Escribe para filtrar",
      "Haut/Bas bouge | Entrée sélectionne | Échap quitte | Tapez pour filtrer",
      "Hoch/Runter bewegt | Enter wählt | Esc beendet | Tippen zum Filtern",
      "Su/Giù muove | Invio seleziona | Esc esce | Digita per filtrare"}},
    {"p2p_menu_send",
     {"Send File", "Enviar arquivo", "Enviar archivo", "Envoyer un fichier", "Datei senden", "Invia file"}},
    {"p2p_menu_recv",
     {"Receive File", "Receber arquivo", "Recibir archivo", "Recevoir un fichier", "Datei empfangen", "Ricevi file"}},
    {"p2p_menu_lang", {"Language", "Idioma", "Idioma", "Langue", "Sprache", "Lingua"}},
    {"p2p_menu_exit", {"Exit", "Sair", "Salir", "Quitter", "Beenden", "Esci"}},
    {"p2p_send_title",
     {"P2P Secure Transfer - Send", "Transferência P2P Segura - Enviar", "Transferencia P2P Segura - Enviar",
      "Transfert P2P Sécurisé - Envoyer", "P2P Sicherer Transfer - Senden", "Trasferimento P2P Sicuro - Invia"}},
    {"p2p_recv_title",
     {"P2P Secure Transfer - Receive", "Transferência P2P Segura - Receber", "Transferencia P2P Segura - Recibir",
      "Transfert P2P Sécurisé - Recevoir", "P2P Sicherer Transfer - Empfangen", "Trasferimento P2P Sicuro - Ricevi"}},
    {"p2p_in_file",
     {"File to send", "Arquivo para enviar", "Archivo a enviar", "Fichier à envoyer", "Datei zum Senden",
      "File da inviare"}},
    {"p2p_in_port",
     {"Listen port", "Porta de escuta", "Puerto de escucha", "Port d'écoute", "Listen-Port", "Porta in ascolto"}},
    {"p2p_in_host",
     {"Sender host/IP", "Host/IP do remetente", "Host/IP del emisor", "Hôte/IP de l'expéditeur", "Sender Host/IP",
      "Host/IP del mittente"}},
    {"p2p_in_outdir",
     {"Output directory", "Diretório de saída", "Directorio de salida", "Dossier de sortie", "Ausgabeordner",
      "Cartella di output"}},
    {"p2p_btn_start", {"Start", "Iniciar", "Iniciar", "Démarrer", "Start", "Avvia"}},
    {"p2p_btn_back", {"Back", "Voltar", "Volver", "Retour", "Zurück", "Indietro"}},
    {"p2p_btn_connect", {"Connect", "Conectar", "Conectar", "Connecter", "Verbinden", "Connetti"}},
    {"p2p_share_title",
     {"Share this card with the receiver", "Compartilhe este cartão com o recebedor",
      "Comparte esta tarjeta con el receptor", "Partagez cette carte avec le receveur",
      "Diese Karte mit dem Empfänger teilen", "Condividi questa scheda con il ricevente"}},
    {"p2p_share_hint",
     {"Verify the fingerprint on both ends. Press Enter to start waiting.",
      "Confirme o fingerprint nos dois lados. Enter para começar a aguardar.",
      "Verifica el fingerprint en ambos lados. Enter para empezar a esperar.",
      "Vérifiez le fingerprint des deux côtés. Entrée pour attendre.",
      "Fingerprint auf beiden Seiten prüfen. Enter zum Warten.",
      "Verifica il fingerprint su entrambi i lati. Invio per attendere."}},
    {"p2p_share_host", {"Host", "Host", "Host", "Hôte", "Host", "Host"}},
    {"p2p_share_port", {"Port", "Porta", "Puerto", "Port", "Port", "Porta"}},
    {"p2p_share_sess", {"Session", "Sessão", "Sesión", "Session", "Sitzung", "Sessione"}},
    {"p2p_share_fp", {"Fingerprint", "Fingerprint", "Fingerprint", "Fingerprint", "Fingerprint", "Fingerprint"}},
    {"p2p_log_listening",
     {"Listening on port %d...", "Escutando na porta %d...", "Escuchando en el puerto %d...",
      "Écoute sur le port %d...", "Lausche auf Port %d...", "In ascolto sulla porta %d..."}},
    {"p2p_log_wait_conn",
     {"Waiting for receiver to connect...", "Aguardando o recebedor conectar...", "Esperando conexión del receptor...",
      "En attente de connexion du receveur...", "Warte auf Verbindung des Empfängers...",
      "In attesa della connessione del ricevente..."}},
    {"p2p_log_connected", {"Connected.", "Conectado.", "Conectado.", "Connecté.", "Verbunden.", "Connesso."}},
    {"p2p_log_handshake",
     {"Handshake OK.", "Handshake OK.", "Handshake OK.", "Handshake OK.", "Handshake OK.", "Handshake OK."}},
    {"p2p_log_transfer",
     {"Transferring file...", "Transferindo arquivo...", "Transfiriendo archivo...", "Transfert du fichier...",
      "Übertrage Datei...", "Trasferimento file..."}},
    {"p2p_log_done", {"Done.", "Concluído.", "Hecho.", "Terminé.", "Fertig.", "Fatto."}},
    {"p2p_err_file",
     {"File not found or not a regular file.", "Arquivo não encontrado ou não é arquivo regular.",
      "Archivo no encontrado o no es un archivo regular.", "Fichier introuvable ou non régulier.",
      "Datei nicht gefunden oder kein reguläres File.", "File non trovato o non è un file regolare."}},
    {"p2p_err_listen",
     {"Could not listen on port %d.", "Não foi possível escutar na porta %d.", "No se pudo escuchar en el puerto %d.",
      "Impossible d'écouter sur le port %d.", "Konnte nicht auf Port %d lauschen.",
      "Impossibile mettersi in ascolto sulla porta %d."}},
    {"p2p_err_accept",
     {"Accept failed.", "Falha no accept.", "Falló accept.", "Échec accept.", "Accept fehlgeschlagen.",
      "Accept fallito."}},
    {"p2p_err_connect",
     {"Connect failed.", "Falha ao conectar.", "Falló conexión.", "Échec de connexion.", "Verbindung fehlgeschlagen.",
      "Connessione fallita."}},
    {"p2p_err_host",
     {"Host cannot be empty.", "Host não pode ficar vazio.", "El host no puede estar vacío.",
      "L'hôte ne peut pas être vide.", "Host darf nicht leer sein.", "L'host non può essere vuoto."}},
    {"p2p_err_outdir",
     {"Output directory does not exist.", "Diretório de saída não existe.", "El directorio de salida no existe.",
      "Le dossier de sortie n'existe pas.", "Ausgabeordner existiert nicht.", "La cartella di output non esiste."}},
    {"p2p_err_zeyla_init",
     {"Failed to initialize Zeyla session (liboqs).", "Falha ao inicializar sessão Zeyla (liboqs).",
      "No se pudo inicializar la sesión Zeyla (liboqs).", "Impossible d'initialiser la session Zeyla (liboqs).",
      "Zeyla-Session konnte nicht initialisiert werden (liboqs).",
      "Impossibile inizializzare la sessione Zeyla (liboqs)."}},
    {"p2p_err_handshake",
     {"Zeyla handshake failed.", "Handshake Zeyla falhou.", "Falló el handshake Zeyla.", "Échec du handshake Zeyla.",
      "Zeyla-Handshake fehlgeschlagen.", "Handshake Zeyla fallito."}},
    {"p2p_err_transfer",
     {"File transfer failed.", "Falha na transferência do arquivo.", "Falló la transferencia del archivo.",
      "Échec du transfert du fichier.", "Dateiübertragung fehlgeschlagen.", "Trasferimento file fallito."}},
    {"p2p_err_receive",
     {"Receive failed.", "Falha ao receber.", "Falló la recepción.", "Échec de réception.", "Empfang fehlgeschlagen.",
      "Ricezione fallita."}},
    {"p2p_press_any",
     {"Press Enter to return", "Enter para voltar", "Enter para volver", "Entrée pour revenir", "Enter zum Zurück",
      "Invio per tornare"}},
};

// The first eleven base keys (app_title to lang_it) come before the own keys.
constexpr std::size_t kLeadingBaseKeys = 11;

TextMap texts_of(std::size_t lang_index) {
    const std::string& lang = kLanguageCodes[lang_index];
    std::vector<text_entry> base = base_messages(lang, BaseTextForm::utf8);
    std::vector<text_entry> entries(base.begin(), base.begin() + kLeadingBaseKeys);
    for (const OwnText& own : kOwnTexts) entries.emplace_back(own.key, own.texts[lang_index]);
    entries.insert(entries.end(), base.begin() + kLeadingBaseKeys, base.end());
    return TextMap(entries.begin(), entries.end());
}
}  // namespace

const LanguageTable& language_catalog() {
    static const LanguageTable table = [] {
        LanguageTable t;
        for (std::size_t i = 0; i < kLanguageCodes.size(); ++i) t.emplace(kLanguageCodes[i], texts_of(i));
        return t;
    }();
    return table;
}
