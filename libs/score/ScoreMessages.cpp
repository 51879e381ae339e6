#include "libs/score/ScoreMessages.h"

#include <iterator>

#include "qocore/base/loc/Localize.h"

namespace score {

namespace {

// A text this program never shows keeps its English form in every
// language.
constexpr loc::BuiltinText english(const char* key, const char* en) { return {key, en, en, en, en, en}; }

// Columns: key, de, es, fr, en, pt; rows in key order.
// clang-format off
constexpr loc::BuiltinText kRows[] = {
    {"score_connectioninfo_adminuser", "Administrativer Benutzer", "Usuario administrativo",
     "Utilisateur administrateur", "Administrative user", "Usuário administrativo"},
    {"score_connectioninfo_anonymoususer", "Anonymer Benutzer", "Usuario anónimo", "Utilisateur anonyme",
     "Anonymous user", "Usuário anônimo"},
    {"score_connectioninfo_guestuser", "Yarl-Gastbenutzer", "Usuario invitado de Yarl", "Utilisateur invité Yarl",
     "Yarl guest user", "Usuário convidado do Yarl"},
    {"score_connectioninfo_inputonlyuser", "Benutzer (nur Eingabe)", "Usuario solo de entrada",
     "Utilisateur en saisie seule", "Input-only user", "Usuário somente de entrada"},
    {"score_connectioninfo_standarduser", "Standardbenutzer", "Usuario estándar", "Utilisateur standard",
     "Standard user", "Usuário padrão"},
    {"score_connectioninfo_viewonlyuser", "Benutzer (nur Anzeige)", "Usuario solo de visualización",
     "Utilisateur en affichage seul", "View-only user", "Usuário somente de visualização"},
    {"score_mode_service", "Dienstmodus", "Modo de servicio", "Mode Service", "Service Mode", "Modo de serviço"},
    {"score_mode_user", "Benutzermodus", "Modo de usuario", "Mode Utilisateur", "User Mode", "Modo de usuário"},
    {"score_mode_virtual", "Virtueller Modus", "Modo virtual", "Mode Virtuel", "Virtual Mode", "Modo virtual"},
    english("score_param_desktopname",
            "The name of this computer's desktop as connected users see it. If empty, the computer's name is used."),
    english("score_sfeature_need_admin", "You must be an administrator to change this setting."),
    english("score_sfeature_runinstead", "This feature is not available in %1$S. Run Corvane Server in %2$S instead."),
};
// clang-format on
static_assert(std::size(kRows) == 12);

// Counts the calls; only the first adds the rows.  Constant-initialised,
// so static initialisers of other files may register first.
constinit int registrations = 0;

}  // namespace

void registerMessages() {
  if (registrations++ > 0) return;
  loc::addBuiltinTexts(kRows);
}

}  // namespace score
