// The built-in texts of the os library, in de, es, fr, en and pt.

#include "qocore/base/loc/Localize.h"

namespace os {

namespace {

constexpr loc::BuiltinText kRows[] = {
    {"os_blankscreen_err_cannot_load", "Datei kann nicht geladen werden", "No se puede cargar el archivo",
     "Impossible de charger le fichier", "Cannot load file", "Não é possível carregar o arquivo"},
    {"os_blankscreen_err_invalid_image", "Ungültiges Bild", "Imagen no válida", "Image non valide", "Invalid image",
     "Imagem inválida"},
    {"os_blankscreen_err_not_jpeg", "Muss .jpg oder .jpeg sein", "Debe ser .jpg o .jpeg",
     "Doit être au format .jpg ou .jpeg", "Must be .jpg or .jpeg", "Deve ser .jpg ou .jpeg"},
    {"os_launchprocess_title_fmt", "%1$S - %2$S-Kennwort erforderlich", "%1$S - se requiere la contraseña de %2$S",
     "%1$S - mot de passe %2$S requis", "%1$S - %2$S password required", "%1$S - senha de %2$S necessária"},
    {"os_launchwithpipe_elevate_cancelled", "Erhöhung wurde abgebrochen oder wird nicht unterstützt.",
     "Elevación cancelada o no admitida.", "Élévation annulée ou non prise en charge.",
     "Elevation cancelled or not supported.", "Elevação cancelada ou não suportada."},
    {"os_launchwithpipe_elevate_not_admin", "Konto für die Erhöhung nicht gültig.",
     "La cuenta no es válida para la elevación.", "Compte non valide pour l'élévation.",
     "Account not valid for elevation.", "Conta não válida para elevação."},
    {"os_logdestsyslog_facilityparam",
     "Für das Protokollziel 'syslog' zu verwendende Facility, als Ganzzahl oder Name. Unterstützte Namen: user, "
     "daemon, auth, authpriv (falls verfügbar), security (falls verfügbar), local0..local7",
     "Facility que usará el destino de registro 'syslog', como número entero o nombre. Nombres admitidos: user, "
     "daemon, auth, authpriv (si está disponible), security (si está disponible), local0..local7",
     "Facility à utiliser pour la destination de journal 'syslog', sous forme d'entier ou de nom. Noms pris en "
     "charge : user, daemon, auth, authpriv (si disponible), security (si disponible), local0..local7",
     "Facility for the 'syslog' log destination to use, as an integer or name. Supported names: user, daemon, "
     "auth, authpriv (if available), security (if available), local0..local7",
     "Facility a usar para o destino de log 'syslog', como inteiro ou nome. Nomes suportados: user, daemon, auth, "
     "authpriv (se disponível), security (se disponível), local0..local7"},
    {"os_websocket_connection_type", "Direkte WebSocket-Verbindung", "WebSocket directo", "WebSocket direct",
     "Direct WebSocket", "WebSocket direto"},
};

void registerOsStrings() { loc::addBuiltinTexts(kRows); }

[[maybe_unused]] const bool registered = (registerOsStrings(), true);

}  // namespace

}  // namespace os
