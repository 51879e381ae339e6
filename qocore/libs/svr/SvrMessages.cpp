#include "qocore/libs/svr/SvrMessages.h"

#include <iterator>

#include "qocore/base/loc/Localize.h"

namespace svr {

namespace {

// A text this program never shows keeps its English form in every
// language.
constexpr loc::BuiltinText english(const char* key, const char* en) { return {key, en, en, en, en, en}; }

// Columns: key, de, es, fr, en, pt; rows in key order.
// clang-format off
constexpr loc::BuiltinText kRows[] = {
    english("svr_capture_fail_msg",
            "Corvane Server cannot capture the screen. Check that it is allowed to record the screen."),
    english("svr_param_accept_cuttext", "Accept clipboard changes from connected users."),
    english("svr_param_accept_keyevents", "Accept key presses from connected users."),
    english("svr_param_accept_pointerevents", "Accept pointer movements and button presses from connected users."),
    english("svr_param_alwaysshowcursor",
            "Always draw the cursor into the screen image, even for users whose viewer draws it locally."),
    english("svr_param_comparefb",
            "Compare each captured screen image with the previous one and send only the parts that changed."),
    english("svr_param_followrdp",
            "Follow the computer's display into a remote desktop session when one becomes active."),
    english("svr_param_guestauth_perms",
            "The permissions of users who connect as guests, written as for the Permissions parameter."),
    english("svr_param_guestauth_pwd",
            "Binary encoding of the password that a guest must supply when connecting."),
    english("svr_param_hide_osk", "Hide the on-screen keyboard from connected users."),
    english("svr_param_ipclientaddresses",
            "Rules for the addresses that may connect, as a comma-separated list: + accepts, - rejects and ? asks "
            "the user at the computer."),
    english("svr_param_mac_capturemethod", "The method used to capture the screen (0 chooses automatically)."),
    english("svr_param_mac_keyeventmethod", "The method used to pass key presses to the computer (0 chooses "
            "automatically)."),
    english("svr_param_monitor_mac", "The display to show to connected users, or empty for all displays."),
    english("svr_param_pollcursortime",
            "Interval in milliseconds at which the cursor's shape is checked for changes."),
    english("svr_param_pollinterval",
            "Interval in milliseconds between screen captures when the system reports no changes."),
    english("svr_param_randr",
            "The screen sizes that connected users may choose from, as a comma-separated list of WxH values."),
    english("svr_param_remapkeys",
            "Key mappings applied to key presses from connected users, as a comma-separated list of 0xNNNN->0xNNNN "
            "rules."),
    english("svr_param_sclipboardx11_polltime",
            "Interval in milliseconds at which the clipboard is checked for changes."),
    english("svr_param_sclipboardx11_sendprimary",
            "Send the current selection to connected users as well as the clipboard."),
    english("svr_param_sconn_alwaysshared",
            "Treat every incoming connection as shared, whatever the viewer asks for."),
    english("svr_param_sconn_authtimeout",
            "Seconds within which a connecting user must complete authentication."),
    english("svr_param_sconn_conntimeout",
            "Seconds after which a connection whose viewer does not respond is closed."),
    english("svr_param_sconn_disconnectclients",
            "Disconnect the users already connected when a new connection asks for exclusive access."),
    english("svr_param_sconn_idletimeout",
            "Seconds after which a connection without user activity is closed (0 never closes it)."),
    english("svr_param_sconn_nevershared",
            "Treat every incoming connection as exclusive, whatever the viewer asks for."),
    english("svr_param_sconn_serverpreferredencoding",
            "The encoding used for screen updates when the viewer states no preference."),
    english("svr_param_sdesktopx11_capturemethod",
            "The method used to capture a virtual desktop (0 chooses automatically)."),
    english("svr_param_sdisplay_blankscreen", "Blank the computer's own screen while users are connected."),
    english("svr_param_sdisplay_blankscreencustom",
            "Show a custom image rather than a plain colour on the blanked screen."),
    english("svr_param_sdisplay_blankscreendetails", "The text shown on the blanked screen."),
    english("svr_param_sdisplay_blankscreenimagepath",
            "The path of the image (a JPEG file) shown on the blanked screen."),
    english("svr_param_sdisplay_disable_effects",
            "Turn off animations, shadows and transparency while users are connected."),
    english("svr_param_sdisplay_disablelocalinputs",
            "Ignore the computer's own keyboard and mouse while users are connected."),
    english("svr_param_sdisplay_displaydevice", "The display device to capture, or empty for all displays."),
    english("svr_param_sdisplay_remove_pattern", "Remove the desktop pattern while users are connected."),
    english("svr_param_sdisplay_remove_wallpaper", "Remove the desktop wallpaper while users are connected."),
    english("svr_param_send_cuttext", "Send clipboard changes to connected users."),
    english("svr_param_simulatesas",
            "Let connected users send the secure attention sequence to sign in or unlock the computer."),
    {"svr_param_ssecurityfactory_auth",
     "Die für eingehende Verbindungen anzubietenden Authentifizierungsschemas (SingleSignOn | SystemAuth | "
     "YarlAuth | Certificate | Radius | InteractiveSystemAuth | Duo | CloudSso) oder None, um den Kennwortschutz "
     "auszuschalten (nur direkte Verbindungen, nicht empfohlen).",
     "Los esquemas de autenticación que se ofrecen a las conexiones entrantes (SingleSignOn | SystemAuth | "
     "YarlAuth | Certificate | Radius | InteractiveSystemAuth | Duo | CloudSso), o None para desactivar la "
     "protección por contraseña (solo conexiones directas; no recomendado).",
     "Le ou les schémas d'authentification à proposer aux connexions entrantes (SingleSignOn | SystemAuth | "
     "YarlAuth | Certificate | Radius | InteractiveSystemAuth | Duo | CloudSso), ou None pour désactiver la "
     "protection par mot de passe (connexions directes uniquement, non recommandé).",
     "The authentication scheme(s) to offer for incoming connections (SingleSignOn | SystemAuth | YarlAuth | "
     "Certificate | Radius | InteractiveSystemAuth | Duo | CloudSso), or None to turn off password protection "
     "(direct connections only, and not recommended).",
     "Os esquemas de autenticação a oferecer para conexões de entrada (SingleSignOn | SystemAuth | YarlAuth | "
     "Certificate | Radius | InteractiveSystemAuth | Duo | CloudSso) ou None para desativar a proteção por senha "
     "(somente conexões diretas; não recomendado)."},
    {"svr_param_ssecurityfactory_enc",
     "Die für eingehende Verbindungen anzubietende Verschlüsselungsstufe (AlwaysMaximum | AlwaysOn | PreferOn | "
     "PreferOff) oder AlwaysOff, um die Verschlüsselung auszuschalten (nur direkte Verbindungen, nicht empfohlen).",
     "El nivel de cifrado que se ofrece a las conexiones entrantes (AlwaysMaximum | AlwaysOn | PreferOn | "
     "PreferOff), o AlwaysOff para desactivar el cifrado (solo conexiones directas; no recomendado).",
     "Le niveau de chiffrement à proposer aux connexions entrantes (AlwaysMaximum | AlwaysOn | PreferOn | "
     "PreferOff), ou AlwaysOff pour désactiver le chiffrement (connexions directes uniquement, non recommandé).",
     "The level of encryption to offer for incoming connections (AlwaysMaximum | AlwaysOn | PreferOn | "
     "PreferOff), or AlwaysOff to turn off encryption (direct connections only, and not recommended).",
     "O nível de criptografia a oferecer para conexões de entrada (AlwaysMaximum | AlwaysOn | PreferOn | "
     "PreferOff) ou AlwaysOff para desativar a criptografia (somente conexões diretas; não recomendado)."},
    {"svr_param_ssecurityfactory_revsectypes",
     "Die für umgekehrte Verbindungen anzubietenden älteren Sicherheitsschemas oder \"<auto>\", um sie anhand des "
     "Parameters Encryption zu bestimmen.",
     "Los esquemas de seguridad heredados que se ofrecen a las conexiones inversas, o \"<auto>\" para "
     "determinarlos mediante el parámetro Encryption.",
     "Le ou les anciens schémas de sécurité à proposer aux connexions inverses, ou \"<auto>\" pour les déterminer "
     "d'après le paramètre Encryption.",
     "The legacy security scheme(s) to offer for reverse connections, or \"<auto>\" to determine using the "
     "Encryption parameter.",
     "Os esquemas de segurança legados a oferecer para conexões reversas ou \"<auto>\" para determiná-los pelo "
     "parâmetro Encryption."},
    {"svr_param_ssecurityfactory_sectypes",
     "Die für eingehende Verbindungen mit RFB-Protokollversion 3 oder 4 anzubietenden älteren Sicherheitsschemas "
     "oder \"<auto>\", um sie anhand der Parameter Encryption und Authentication zu bestimmen.",
     "Los esquemas de seguridad heredados que se ofrecen a las conexiones entrantes con la versión 3 o 4 del "
     "protocolo RFB, o \"<auto>\" para determinarlos mediante los parámetros Encryption y Authentication.",
     "Le ou les anciens schémas de sécurité à proposer aux connexions entrantes en version 3 ou 4 du protocole "
     "RFB, ou \"<auto>\" pour les déterminer d'après les paramètres Encryption et Authentication.",
     "The legacy security scheme(s) to offer for incoming RFB protocol version 3 or 4 connections, or \"<auto>\" "
     "to determine using the Encryption and Authentication parameters.",
     "Os esquemas de segurança legados a oferecer para conexões de entrada com a versão 3 ou 4 do protocolo RFB "
     "ou \"<auto>\" para determiná-los pelos parâmetros Encryption e Authentication."},
    english("svr_param_usecaptureblt", "Include transparent and layered windows when capturing the screen."),
    english("svr_param_win_sdisplay_capturemethod",
            "The method used to capture the screen (0 chooses automatically, 1 polls the screen, 2 uses the capture "
            "driver)."),
    english("svr_param_win_skeyboard_deadkeyaware",
            "Pass dead keys on as typed, so that accented characters are composed on this computer."),
    {"svr_param_yarlauth_pwd",
     "Binäre Codierung des Kennworts, das ein sich verbindender Benutzer bei der Yarl-Kennwortauthentifizierung "
     "angeben muss.",
     "Codificación binaria de la contraseña que debe proporcionar un usuario que se conecta cuando se usa la "
     "autenticación por contraseña de Yarl.",
     "Encodage binaire du mot de passe qu'un utilisateur qui se connecte doit fournir avec l'authentification par "
     "mot de passe Yarl.",
     "Binary encoding of the password that a connecting user must supply when using Yarl Password "
     "authentication.",
     "Codificação binária da senha que um usuário que se conecta deve fornecer ao usar a autenticação por senha do "
     "Yarl."},
    english("svr_param_yarlauth_pwd_admin",
            "Binary encoding of the password that a user must supply to connect as an administrative user."),
    english("svr_param_yarlauth_pwd_inputonly",
            "Binary encoding of the password that a user must supply to connect as an input-only user."),
    english("svr_param_yarlauth_pwd_viewonly",
            "Binary encoding of the password that a user must supply to connect as a view-only user."),
    {"svr_sauthentication_cloud_sso", "Single Sign-On (IdP über Corvane-Dienste)",
     "Inicio de sesión único (IdP mediante servicios de Corvane)",
     "Authentification unique (IdP via les services Corvane)", "Single Sign-On (IdP via Corvane services)",
     "Logon único (IdP por meio dos serviços da Corvane)"},
    {"svr_sauthentication_custom", "Benutzerdefiniert", "Personalizado", "Personnalisé", "Custom", "Personalizado"},
    {"svr_sauthentication_desc_cloud_sso",
     "Sich verbindende Benutzer werden über Corvane-Dienste transparent mit ihren Single-Sign-On-Anmeldedaten "
     "authentifiziert. Der Zugriff wird über die Gruppenmitgliedschaft gesteuert.",
     "Los usuarios que se conectan se autentican de forma transparente con sus credenciales de inicio de sesión "
     "único mediante los servicios de Corvane. El acceso se controla por la pertenencia a grupos.",
     "Les utilisateurs qui se connectent sont authentifiés de manière transparente avec leurs identifiants "
     "d'authentification unique via les services Corvane. L'accès est contrôlé par l'appartenance aux groupes.",
     "Connecting users should be transparently authenticated using their single sign-on credentials via Corvane "
     "services. Access is controlled by group membership.",
     "Os usuários que se conectam são autenticados de forma transparente com suas credenciais de logon único por "
     "meio dos serviços da Corvane. O acesso é controlado pela associação a grupos."},
    {"svr_sauthentication_desc_interactivesystem",
     "Sich verbindende Benutzer geben bei Aufforderung ihren %1$S-Benutzernamen und danach alle weiteren "
     "angeforderten Systemanmeldedaten ein.",
     "Cuando se les solicite, los usuarios que se conectan deben introducir su nombre de usuario de %1$S y, a "
     "continuación, las demás credenciales del sistema que se pidan.",
     "Lorsque cela leur est demandé, les utilisateurs qui se connectent doivent saisir leur nom d'utilisateur "
     "%1$S, puis tout autre identifiant système requis.",
     "When prompted, connecting users should enter their %1$S user name followed by any additional requested "
     "system credentials.",
     "Quando solicitado, os usuários que se conectam devem digitar o nome de usuário do %1$S e, em seguida, as "
     "demais credenciais do sistema solicitadas."},
    {"svr_sauthentication_desc_none", "Corvane Server ist nicht kennwortgeschützt. Dies wird NICHT empfohlen.",
     "Corvane Server no está protegido con contraseña. Esto NO se recomienda.",
     "Corvane Server n'est pas protégé par mot de passe. Ceci n'est PAS recommandé.",
     "Corvane Server is not password-protected. This is NOT recommended.",
     "O Corvane Server não está protegido por senha. Isso NÃO é recomendado."},
    {"svr_sauthentication_desc_public_key",
     "Sich verbindende Benutzer werden transparent über ein eigenes Zertifikat authentifiziert, das sich auf einer "
     "Smartcard oder in einem Zertifikatspeicher des verbindenden Geräts befindet.",
     "Los usuarios que se conectan se autentican de forma transparente mediante un certificado propio, ya sea en "
     "una tarjeta inteligente o en un almacén del dispositivo desde el que se conectan.",
     "Les utilisateurs qui se connectent sont authentifiés de manière transparente par un certificat qui leur "
     "appartient, sur une carte à puce ou dans un magasin de l'appareil depuis lequel ils se connectent.",
     "Connecting users should be transparently authenticated by a certificate they own, either on a smartcard or "
     "in a store on the connecting device.",
     "Os usuários que se conectam são autenticados de forma transparente por um certificado próprio, em um cartão "
     "inteligente ou em um repositório do dispositivo que se conecta."},
    {"svr_sauthentication_desc_single_sign_on",
     "Sich verbindende Benutzer werden automatisch über sichere Netzwerkdienste authentifiziert.",
     "Los usuarios que se conectan se autentican automáticamente mediante servicios de red seguros.",
     "Les utilisateurs qui se connectent sont authentifiés automatiquement par des services réseau sécurisés.",
     "Connecting users should be automatically authenticated by secure network services.",
     "Os usuários que se conectam são autenticados automaticamente por serviços de rede seguros."},
    {"svr_sauthentication_desc_system_duo",
     "Sich verbindende Benutzer geben bei Aufforderung ihren %1$S-Benutzernamen und ihr Kennwort ein und "
     "authentifizieren sich dann mit ihrem Duo-Gerät.",
     "Cuando se les solicite, los usuarios que se conectan deben introducir su nombre de usuario y contraseña de "
     "%1$S y, después, autenticarse con su dispositivo Duo.",
     "Lorsque cela leur est demandé, les utilisateurs qui se connectent doivent saisir leur nom d'utilisateur et "
     "leur mot de passe %1$S, puis s'authentifier avec leur appareil Duo.",
     "When prompted, connecting users should enter their %1$S user name and password, then authenticate using "
     "their Duo device.",
     "Quando solicitado, os usuários que se conectam devem digitar o nome de usuário e a senha do %1$S e, em "
     "seguida, autenticar-se com o dispositivo Duo."},
    {"svr_sauthentication_desc_system_password",
     "Sich verbindende Benutzer geben bei Aufforderung ihren %1$S-Benutzernamen und ihr Kennwort ein.",
     "Cuando se les solicite, los usuarios que se conectan deben introducir su nombre de usuario y contraseña de "
     "%1$S.",
     "Lorsque cela leur est demandé, les utilisateurs qui se connectent doivent saisir leur nom d'utilisateur et "
     "leur mot de passe %1$S.",
     "When prompted, connecting users should enter their %1$S user name and password.",
     "Quando solicitado, os usuários que se conectam devem digitar o nome de usuário e a senha do %1$S."},
    {"svr_sauthentication_desc_system_radius",
     "Sich verbindende Benutzer geben bei Aufforderung ihren %1$S-Benutzernamen und ihr Kennwort ein und "
     "authentifizieren sich dann bei einem RADIUS-Server.",
     "Cuando se les solicite, los usuarios que se conectan deben introducir su nombre de usuario y contraseña de "
     "%1$S y, después, autenticarse en un servidor RADIUS.",
     "Lorsque cela leur est demandé, les utilisateurs qui se connectent doivent saisir leur nom d'utilisateur et "
     "leur mot de passe %1$S, puis s'authentifier auprès d'un serveur RADIUS.",
     "When prompted, connecting users should enter their %1$S user name and password, then authenticate to a "
     "RADIUS server.",
     "Quando solicitado, os usuários que se conectam devem digitar o nome de usuário e a senha do %1$S e, em "
     "seguida, autenticar-se em um servidor RADIUS."},
    {"svr_sauthentication_desc_system_securid",
     "Sich verbindende Benutzer geben bei Aufforderung ihren %1$S-Benutzernamen und ihr Kennwort ein und "
     "authentifizieren sich dann mit ihrem RSA SecurID®-Token.",
     "Cuando se les solicite, los usuarios que se conectan deben introducir su nombre de usuario y contraseña de "
     "%1$S y, después, autenticarse con su token RSA SecurID®.",
     "Lorsque cela leur est demandé, les utilisateurs qui se connectent doivent saisir leur nom d'utilisateur et "
     "leur mot de passe %1$S, puis s'authentifier avec leur jeton RSA SecurID®.",
     "When prompted, connecting users should enter their %1$S user name and password, then authenticate using "
     "their RSA SecurID® token.",
     "Quando solicitado, os usuários que se conectam devem digitar o nome de usuário e a senha do %1$S e, em "
     "seguida, autenticar-se com o token RSA SecurID®."},
    {"svr_sauthentication_desc_unset", "Die Authentifizierung ist nicht konfiguriert.",
     "La autenticación no está configurada.", "L'authentification n'est pas configurée.",
     "Authentication is not configured.", "A autenticação não está configurada."},
    {"svr_sauthentication_desc_yarl_password",
     "Sich verbindende Benutzer geben bei Aufforderung das Yarl-Kennwort ein.",
     "Cuando se les solicite, los usuarios que se conectan deben introducir la contraseña de Yarl.",
     "Lorsque cela leur est demandé, les utilisateurs qui se connectent doivent saisir le mot de passe Yarl.",
     "When prompted, connecting users should enter the Yarl password.",
     "Quando solicitado, os usuários que se conectam devem digitar a senha do Yarl."},
    {"svr_sauthentication_duo", "Duo-Authentifizierung", "Autenticación Duo", "Authentification Duo",
     "Duo authentication", "Autenticação Duo"},
    {"svr_sauthentication_interactivesystem", "Interaktive %1$S-Authentifizierung",
     "Autenticación interactiva de %1$S", "Authentification %1$S interactive", "Interactive %1$S authentication",
     "Autenticação interativa do %1$S"},
    {"svr_sauthentication_none", "Keine", "Ninguna", "Aucune", "None", "Nenhuma"},
    {"svr_sauthentication_public_key", "Smartcard/Zertifikatspeicher", "Tarjeta inteligente/almacén de certificados",
     "Carte à puce/magasin de certificats", "Smartcard/certificate store",
     "Cartão inteligente/repositório de certificados"},
    {"svr_sauthentication_radius", "RADIUS-Authentifizierung", "Autenticación RADIUS", "Authentification RADIUS",
     "RADIUS authentication", "Autenticação RADIUS"},
    {"svr_sauthentication_securid", "RSA SecurID®-Authentifizierung", "Autenticación RSA SecurID®",
     "Authentification RSA SecurID®", "RSA SecurID® authentication", "Autenticação RSA SecurID®"},
    {"svr_sauthentication_single_sign_on", "Single Sign-On (SSPI/GSSAPI)", "Inicio de sesión único (SSPI/GSSAPI)",
     "Authentification unique (SSPI/GSSAPI)", "Single Sign-On (SSPI/GSSAPI)", "Logon único (SSPI/GSSAPI)"},
    {"svr_sauthentication_system_password", "%1$S-Kennwort", "Contraseña de %1$S", "Mot de passe %1$S",
     "%1$S password", "Senha do %1$S"},
    {"svr_sauthentication_unset", "Nicht konfiguriert", "Sin configurar", "Non configuré", "Not configured",
     "Não configurado"},
    {"svr_sauthentication_yarl_password", "Yarl-Gerätekennwort", "Contraseña de dispositivo de Yarl",
     "Mot de passe d'appareil Yarl", "Yarl Device Password", "Senha de dispositivo do Yarl"},
    english("svr_sconn_close_auth_timeout", "The connecting user did not complete authentication in time."),
    english("svr_sconn_close_conn_timeout", "The connection timed out."),
    english("svr_sconn_close_idle_timeout", "The connection was closed because it was idle for too long."),
    english("svr_sconn_non_shared", "Another user has connected with exclusive access."),
    english("svr_sconn_queryconnect_reject", "The user at the computer rejected the connection."),
    english("svr_sconn_queryconnect_timeout", "Nobody at the computer accepted the connection in time."),
    english("svr_sconn_server_in_use", "Corvane Server is in use and accepts no further connections."),
    english("svr_sdisplay_wake_display_reason", "Corvane Server is showing the screen to a connected user."),
    {"svr_sencryption_always_maximum", "Immer maximal", "Siempre máximo", "Toujours maximal", "Always maximum",
     "Sempre máxima"},
    {"svr_sencryption_always_maximum_display", "Immer maximal (256-Bit-AES)", "Siempre máximo (AES de 256 bits)",
     "Toujours maximal (AES 256 bits)", "Always maximum (256-bit AES)", "Sempre máxima (AES de 256 bits)"},
    {"svr_sencryption_always_off", "Immer aus", "Siempre desactivado", "Toujours désactivé", "Always off",
     "Sempre desativada"},
    {"svr_sencryption_always_on", "Immer ein", "Siempre activado", "Toujours activé", "Always on",
     "Sempre ativada"},
    {"svr_sencryption_always_on_display", "Immer ein (mindestens 128-Bit-AES)",
     "Siempre activado (AES de 128 bits como mínimo)", "Toujours activé (AES 128 bits au moins)",
     "Always on (at least 128-bit AES)", "Sempre ativada (AES de pelo menos 128 bits)"},
    {"svr_sencryption_custom_display", "Benutzerdefiniert", "Personalizado", "Personnalisé", "Custom",
     "Personalizada"},
    {"svr_sencryption_prefer_off", "Bevorzugt aus", "Preferiblemente desactivado", "De préférence désactivé",
     "Prefer off", "Preferencialmente desativada"},
    {"svr_sencryption_prefer_on", "Bevorzugt ein", "Preferiblemente activado", "De préférence activé", "Prefer on",
     "Preferencialmente ativada"},
    english("svr_server_app_name_r", "Corvane Server®"),
    english("svr_server_exit", "Corvane Server is exiting."),
    english("svr_server_shutdown", "Corvane Server is shutting down."),
    english("svr_server_stopped", "Corvane Server has stopped."),
    english("svr_server_userinitiated_close", "The connection was closed by the user at the computer."),
    english("svr_tcchelper_checking_html",
            "<p>Checking that Corvane Server may record the screen and control the keyboard and mouse...</p>"),
    english("svr_tcchelper_skip", "&Skip"),
    english("svr_tcchelper_skip_warning",
            "If you skip this step, connected users may not see the screen or be able to control the computer."),
    english("svr_tcchelper_title", "Corvane Server Permissions"),
    english("svr_winsdisplay_session_switch", "The computer switched sessions; the screen is being captured again."),
};
// clang-format on
static_assert(std::size(kRows) == 99);

// Counts the calls; only the first adds the rows.  Constant-initialised,
// so static initialisers of other files may register first.
constinit int registrations = 0;

}  // namespace

void registerMessages() {
  if (registrations++ > 0) return;
  loc::addBuiltinTexts(kRows);
}

}  // namespace svr
