// The built-in texts of the http library, in de, es, fr, en and pt.  Only
// the CONNECT method name is used by this program; the others describe
// proxy settings that a configuration front end may offer.

#include "qocore/base/loc/Localize.h"

namespace http {

namespace {

constexpr loc::BuiltinText kRows[] = {
    {"http_httpconnect_connection_type", "Direktes TCP über HTTP CONNECT-Proxy %S",
     "TCP directo a través de proxy de HTTP CONNECT %S", "Connexion TCP directe via proxy HTTP CONNECT %S",
     "Direct TCP via HTTP CONNECT proxy %S", "TCP direto via proxy HTTP CONNECT %S"},
    {"http_proxy_param_proxyautoconfig", "URL für das Proxy-Autokonfigurationsskript (PAC)",
     "URL del script de autoconfiguración del proxy (PAC)", "URL du script de configuration automatique de proxy (PAC)",
     "URL of proxy auto-config (PAC) script", "URL do script de configuração automática do proxy (PAC)"},
    {"http_proxyconfigparam_param_proxypassword",
     "Das Kennwort, mit dem die Authentifizierung bei einem Proxyserver erfolgt.",
     "Contraseña que emplear para autenticarse ante un servidor proxy.",
     "Mot de passe à utiliser pour l'authentification auprès du serveur proxy.",
     "The password to use to authenticate to a proxy server.",
     "A senha utilizada para a autenticação em um servidor proxy."},
    {"http_proxyconfigparam_param_proxyserver_mac",
     "Die URL eines Proxyservers bzw. „<system>“ zur Nutzung von System-Proxyeinstellungen.",
     "URL de un servidor proxy, o bien \"<system>\" para utilizar la configuración proxy del sistema.",
     "URL d'un serveur proxy, ou \"<system>\" pour utiliser les paramètres de proxy du système.",
     "The URL of a proxy server, or alternatively \"<system>\" to use system proxy settings.",
     "O URL de um servidor proxy, ou \"<system>\" para usar as configurações de proxy do sistema."},
    {"http_proxyconfigparam_param_proxyserver_unix",
     "Die URL eines Proxyservers bzw. „<system>“ zur Nutzung von Standard-Proxy-Umgebungsvariablen oder von "
     "libproxy.",
     "URL de un servidor proxy, o bien \"<system>\" para utilizar las variables estándar del entorno del servidor "
     "proxy o libproxy.",
     "URL d'un serveur proxy, ou \"<system>\" pour utiliser le proxy spécifié par les variables d'environnement ou "
     "libproxy.",
     "The URL of a proxy server, or alternatively \"<system>\" to use standard proxy environment variables or "
     "libproxy.",
     "O URL de um servidor proxy, ou \"<system>\" para usar as variáveis padrão de ambiente de proxy ou libproxy."},
    {"http_proxyconfigparam_param_proxyserver_win",
     "Die URL eines Proxyservers bzw. „<system>“ zur Nutzung von IE- oder System-Proxyeinstellungen.",
     "URL de un servidor proxy, o bien \"<system>\" para utilizar la configuración proxy de IE o del sistema.",
     "URL d'un serveur proxy, ou \"<system>\" pour utiliser les paramètres de proxy d'Internet Explorer ou du "
     "système.",
     "The URL of a proxy server, or alternatively \"<system>\" to use IE or system proxy settings.",
     "O URL de um servidor proxy, ou \"<system>\" para usar as configurações de proxy do sistema ou do IE"},
    {"http_proxyconfigparam_param_proxyusername",
     "Der Benutzername, mit dem die Authentifizierung bei einem Proxyserver erfolgt.",
     "Nombre de usuario con que autenticarse ante un servidor proxy.",
     "Nom d'utilisateur à utiliser pour l'authentification auprès du serveur proxy.",
     "The user name with which to authenticate to a proxy server.",
     "O nome de usuário utilizado para a autenticação em um servidor proxy."},
};

void registerHttpStrings() { loc::addBuiltinTexts(kRows); }

[[maybe_unused]] const bool registered = (registerHttpStrings(), true);

}  // namespace

}  // namespace http
