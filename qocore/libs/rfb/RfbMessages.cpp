#include "qocore/libs/rfb/RfbMessages.h"

#include <iterator>

#include "qocore/base/loc/Localize.h"

namespace rfb {

namespace {

// A text this program never shows keeps its English form in every
// language.
constexpr loc::BuiltinText english(const char* key, const char* en) { return {key, en, en, en, en, en}; }

// Columns: key, de, es, fr, en, pt; rows in key order.
// clang-format off
constexpr loc::BuiltinText kRows[] = {
    english("rfb_cconnection_reading_ver_failed",
            "The server did not send a protocol version that this viewer understands. It may not be a remote-access "
            "server."),
    english("rfb_connection_no_keep_alive_response",
            "The connection was closed because the other computer stopped responding."),
    english("rfb_cprotov4down_ard_incompatible_version",
            "The server uses a version of the legacy remote desktop protocol that this viewer cannot use."),
    english("rfb_cprotov4down_nomatchingsectypes",
            "The server and this viewer have no security type in common, so the connection cannot be made."),
    english("rfb_cprotov5_no_ciphers", "The server offers no encryption cipher that this viewer supports."),
    english("rfb_param_alter_shift_with_mods",
            "Adjust the state of the Shift key sent with other modifier keys, so that the server sees the character "
            "that was typed."),
    english("rfb_param_protocolversion",
            "The highest protocol version to use for connections (for example 5.0 or 4.1), or empty for the latest."),
    {"rfb_security_128_AES", "128-Bit-AES-Verschlüsselung", "Cifrado AES de 128 bits", "Chiffrement AES 128 bits",
     "128-bit AES encryption", "Criptografia AES de 128 bits"},
    {"rfb_security_256_AES", "256-Bit-AES-Verschlüsselung", "Cifrado AES de 256 bits", "Chiffrement AES 256 bits",
     "256-bit AES encryption", "Criptografia AES de 256 bits"},
    {"rfb_security_no_encryption", "keine Verschlüsselung", "sin cifrado", "aucun chiffrement", "no encryption",
     "sem criptografia"},
    english("rfb_sprotov4down_no_3_3_sec_type",
            "None of the security types configured for this server can be used with protocol version 3.3."),
    english("rfb_sprotov4down_no_sec_types", "No security types are configured for this connection."),
    english("rfb_sprotov4down_psk_peerversion",
            "The viewer is too old to use the pre-shared key security that this server requires. Upgrade the "
            "viewer."),
    english("rfb_sprotov5_nomatchingciphersuites",
            "The viewer supports none of the cipher suites that this server offers."),
};
// clang-format on
static_assert(std::size(kRows) == 14);

// Counts the calls; only the first adds the rows.  Constant-initialised,
// so static initialisers of other files may register first.
constinit int registrations = 0;

}  // namespace

void registerMessages() {
  if (registrations++ > 0) return;
  loc::addBuiltinTexts(kRows);
}

}  // namespace rfb
