// The built-in texts of the io library, in de, es, fr, en and pt.

#include "qocore/base/loc/Localize.h"

namespace io {

namespace {

constexpr loc::BuiltinText kRows[] = {
    {"io_dscp_param", "Wert zur Klassifizierung des Netzwerkverkehrs für Quality of Service.",
     "Valor para clasificar el tráfico de red y ofrecer calidad de servicio.",
     "Valeur de classification du trafic réseau pour la qualité de service.",
     "Value to classify network traffic to provide Quality of Service.",
     "Valor para classificar o tráfego de rede e oferecer qualidade de serviço."},
    {"io_error_eai_again", "Vorübergehender Fehler bei der Namensauflösung", "Error temporal al resolver el nombre",
     "Échec temporaire de la résolution de nom", "Temporary name lookup failure",
     "Falha temporária na resolução de nome"},
    {"io_error_eai_nodata", "Der angeforderte Name hat keine IP-Adresse", "El nombre solicitado no tiene dirección IP",
     "Le nom demandé n'a pas d'adresse IP", "The requested name does not have an IP address",
     "O nome solicitado não tem endereço IP"},
    {"io_error_eai_noname", "Kein solcher Host bekannt", "No se conoce ningún host con ese nombre",
     "Aucun hôte de ce nom n'est connu", "No such host is known", "Nenhum host com esse nome é conhecido"},
    {"io_error_endpoint_badescape", "Ungültiger Endpunkt: falsche %%-Maskierung",
     "Punto de conexión no válido: secuencia %% incorrecta", "Point de connexion non valide : échappement %% incorrect",
     "Invalid endpoint: incorrect %% escape", "Ponto de conexão inválido: escape %% incorreto"},
    {"io_error_endpoint_badport", "Ungültiger Endpunkt: Port nicht korrekt angegeben",
     "Punto de conexión no válido: puerto especificado incorrectamente",
     "Point de connexion non valide : port mal spécifié", "Invalid endpoint: port not correctly specified",
     "Ponto de conexão inválido: porta especificada incorretamente"},
    {"io_error_endpoint_bracket", "Ungültiger Endpunkt: nicht geschlossenes \"[\" im Host",
     "Punto de conexión no válido: \"[\" sin cerrar en el host",
     "Point de connexion non valide : \"[\" non fermé dans l'hôte", "Invalid endpoint: unmatched \"[\" in host",
     "Ponto de conexão inválido: \"[\" sem par no host"},
    {"io_error_endpoint_empty", "Ungültiger Endpunkt: Host und/oder Port leer",
     "Punto de conexión no válido: host o puerto vacío", "Point de connexion non valide : hôte et/ou port vide",
     "Invalid endpoint: empty host and/or port", "Ponto de conexão inválido: host e/ou porta vazios"},
    {"io_error_endpoint_general", "Ungültiger Endpunkt", "Punto de conexión no válido", "Point de connexion non valide",
     "Invalid endpoint", "Ponto de conexão inválido"},
    {"io_error_ip_nethostunreach", "Es ist keine Route zum Host bekannt", "No se conoce ninguna ruta al host",
     "Aucun itinéraire vers l'hôte n'est connu", "No route to the host is known",
     "Nenhuma rota para o host é conhecida"},
    {"io_error_proxy_disconnected", "vom Proxy getrennt", "desconectado por el proxy", "déconnecté par le proxy",
     "disconnected by proxy", "desconectado pelo proxy"},
    {"io_error_proxy_general", "Verbindung über %1$S nicht möglich: %2$S",
     "No se puede conectar a través de %1$S: %2$S", "Impossible de se connecter via %1$S : %2$S",
     "Unable to connect via %1$S: %2$S", "Não é possível conectar via %1$S: %2$S"},
    {"io_error_tcp_conndropped", "Die Verbindung wurde während des Aufbaus abgewiesen",
     "La conexión se rechazó durante el establecimiento", "La connexion a été refusée pendant son établissement",
     "The connection was refused during establishment", "A conexão foi recusada durante o estabelecimento"},
    {"io_error_tcp_connrefused", "Die Verbindung wurde vom Computer abgewiesen", "El equipo rechazó la conexión",
     "La connexion a été refusée par l'ordinateur", "The connection was refused by the computer",
     "A conexão foi recusada pelo computador"},
    {"io_error_tcp_connreset", "Die Verbindung wurde von der Gegenseite geschlossen",
     "La conexión se cerró de forma remota", "La connexion a été fermée à distance",
     "The connection was closed remotely", "A conexão foi fechada remotamente"},
    {"io_error_tcp_timedout", "Zeitüberschreitung beim Warten auf eine Antwort des Computers",
     "Se agotó el tiempo de espera de respuesta del equipo", "Délai dépassé en attendant une réponse de l'ordinateur",
     "Timed out waiting for a response from the computer", "Tempo esgotado aguardando resposta do computador"},
    {"io_param_blacklist_threshold",
     "Anzahl erfolgloser Authentifizierungsversuche, nach der ein verbindendes Gerät für eine Sperrzeit auf die "
     "schwarze Liste gesetzt wird.",
     "Número de intentos de autenticación fallidos permitidos antes de que un dispositivo que se conecta se "
     "incluya en la lista negra durante un tiempo.",
     "Nombre de tentatives d'authentification infructueuses autorisées avant qu'un appareil qui se connecte ne "
     "soit mis sur liste noire pendant un certain temps.",
     "The number of unsuccessful authentication attempts that can be made before a particular connecting device "
     "is blacklisted for a timeout period.",
     "Número de tentativas de autenticação malsucedidas permitidas antes que um dispositivo que se conecta seja "
     "colocado na lista negra por um período."},
    {"io_param_blacklist_timeout",
     "Anfängliche Anzahl Sekunden, in denen Verbindungen eines gesperrten Geräts abgewiesen werden, bevor der "
     "Benutzer erneut eine Authentifizierung versuchen kann.",
     "Número inicial de segundos durante los que se rechazan las conexiones de un dispositivo en la lista negra "
     "antes de que el usuario pueda volver a autenticarse.",
     "Nombre initial de secondes pendant lesquelles les connexions d'un appareil sur liste noire sont refusées "
     "avant que l'utilisateur puisse de nouveau s'authentifier.",
     "The initial number of seconds during which connections from a blacklisted device are rejected before the "
     "connecting user can attempt to authenticate again.",
     "Número inicial de segundos durante os quais as conexões de um dispositivo na lista negra são rejeitadas "
     "antes que o usuário possa tentar se autenticar novamente."},
    {"io_proxy_connection_desc", "Direktes TCP über Proxyeinstellungen",
     "TCP directo mediante la configuración de proxy", "TCP direct via les paramètres de proxy",
     "Direct TCP via proxy settings", "TCP direto via configurações de proxy"},
    {"io_socks5_connection_type", "Direktes TCP über SOCKS5-Proxy %S", "TCP directo mediante proxy SOCKS5 %S",
     "TCP direct via le proxy SOCKS5 %S", "Direct TCP via SOCKS5 proxy %S", "TCP direto via proxy SOCKS5 %S"},
    {"io_tcp_connection_type", "Direktes TCP", "TCP directo", "TCP direct", "Direct TCP", "TCP direto"},
    {"io_udp_connection_type", "Direktes UDP", "UDP directo", "UDP direct", "Direct UDP", "UDP direto"},
};

void registerIoStrings() { loc::addBuiltinTexts(kRows); }

[[maybe_unused]] const bool registered = (registerIoStrings(), true);

}  // namespace

}  // namespace io
