// The built-in texts of the TLS layer, in de, es, fr, en and pt.  The
// second describes an OCSP setting that no parameter of this program uses.

#include "qocore/base/loc/Localize.h"

namespace ssl {

namespace {

constexpr loc::BuiltinText kRows[] = {
    {"ssl_param_tlsprofile",
     "Die Sicherheitsstufe, die für TLS-Verbindungen erzwungen wird. Bei „Normal“ ist TLS 1.2 vorgeschrieben, "
     "unsichere Ausweich-Verschlüsselungen sind nicht erlaubt und die Schlüsselstärke wird geprüft (kein SHA-1 und "
     "keine kurzen Schlüssel). „High“ beschränkt die Verschlüsselung auf AES-256 ohne ältere Verfahren.",
     "El nivel de seguridad que se exige al establecer conexiones TLS. Con 'Normal' se exige TLS 1.2, no se "
     "permiten cifrados alternativos vulnerables y se comprueba la seguridad de las claves (sin SHA-1 ni claves "
     "cortas). 'High' limita los cifrados a AES-256 sin cifrados heredados.",
     "Le niveau de sécurité à imposer aux connexions TLS. Avec « Normal », TLS 1.2 est obligatoire, aucun "
     "chiffrement de repli vulnérable n'est autorisé et la robustesse des clés est vérifiée (ni SHA-1 ni clés "
     "courtes). « High » limite les chiffrements à AES-256 sans chiffrement hérité.",
     "The security strength to enforce when making TLS connections. For 'Normal', TLS 1.2 is mandated, no broken "
     "fallback ciphers are allowed, and key strength is checked for security (no SHA-1 or small keys). Selecting "
     "'High' limits cipher choices to AES-256 with no legacy ciphers.",
     "O nível de segurança exigido ao estabelecer conexões TLS. Com 'Normal', o TLS 1.2 é obrigatório, nenhuma "
     "cifra alternativa vulnerável é permitida e a força das chaves é verificada (sem SHA-1 nem chaves curtas). "
     "'High' limita as cifras ao AES-256, sem cifras legadas."},
    {"ssl_param_ocspnonce",
     "Keine Nonces in OCSP-Anfragen verwenden (None), Nonces anfordern, aber ihr Vorhandensein nicht verlangen "
     "(Request), oder Nonces anfordern und verlangen (Require, am sichersten).",
     "No usar nonces en las solicitudes OCSP (None), solicitar nonces sin exigir su presencia (Request), o "
     "solicitar y exigir un nonce (Require, lo más seguro).",
     "Ne pas utiliser de nonces dans les requêtes OCSP (None), demander des nonces sans en exiger la présence "
     "(Request), ou demander et exiger un nonce (Require, le plus sûr).",
     "Do not use nonces with OCSP requests (None), or request nonces but do not mandate a nonce's presence "
     "(Request), or request and mandate a nonce (Require, most secure).",
     "Não usar nonces em solicitações OCSP (None), solicitar nonces sem exigir sua presença (Request), ou "
     "solicitar e exigir um nonce (Require, mais seguro)."},
};

void registerSslStrings() { loc::addBuiltinTexts(kRows); }

[[maybe_unused]] const bool registered = (registerSslStrings(), true);

}  // namespace

}  // namespace ssl
