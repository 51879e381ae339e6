#include "qocore/base/qoutil/InteractionTexts.h"

#include "qocore/base/loc/Localize.h"

namespace qoutil {

namespace {

constexpr loc::BuiltinText kRows[] = {
    {"qoutil_editmenu_copy", "Kopieren", "Copiar", "Copier", "Copy", "Copiar"},
    {"qoutil_editmenu_cut", "Ausschneiden", "Cortar", "Couper", "Cut", "Recortar"},
    {"qoutil_editmenu_paste", "Einsetzen", "Pegar", "Coller", "Paste", "Colar"},
    {"qoutil_editmenu_select_all", "Alles auswählen", "Seleccionar todo", "Tout sélectionner", "Select All",
     "Selecionar tudo"},
    {"qoutil_param_leftcmdkey",
     "Zuordnung der linken Befehlstaste: Alt_L, Alt_R, Super_L (Windows-Taste), Super_R, ExtendedChars (AltGr).",
     "Especifica la asignación de la tecla Comando izquierda: Alt_L, Alt_R, Super_L (tecla Windows), Super_R, "
     "ExtendedChars (AltGr).",
     "Indique l'affectation de la touche Commande gauche : Alt_L, Alt_R, Super_L (touche Windows), Super_R, "
     "ExtendedChars (AltGr).",
     "Specify the mapping of the left Command key: Alt_L, Alt_R, Super_L (Windows key), Super_R, ExtendedChars "
     "(AltGr).",
     "Especifique o mapeamento da tecla Command esquerda: Alt_L, Alt_R, Super_L (tecla Windows), Super_R, "
     "ExtendedChars (AltGr)."},
    {"qoutil_param_leftoptkey",
     "Zuordnung der linken Wahltaste: Alt_L, Alt_R, Super_L (Windows-Taste), Super_R, ExtendedChars (AltGr).",
     "Especifica la asignación de la tecla Opción izquierda: Alt_L, Alt_R, Super_L (tecla Windows), Super_R, "
     "ExtendedChars (AltGr).",
     "Indique l'affectation de la touche Option gauche : Alt_L, Alt_R, Super_L (touche Windows), Super_R, "
     "ExtendedChars (AltGr).",
     "Specify the mapping of the left Option key: Alt_L, Alt_R, Super_L (Windows key), Super_R, ExtendedChars "
     "(AltGr).",
     "Especifique o mapeamento da tecla Option esquerda: Alt_L, Alt_R, Super_L (tecla Windows), Super_R, "
     "ExtendedChars (AltGr)."},
    {"qoutil_param_rightcmdkey",
     "Zuordnung der rechten Befehlstaste: Alt_L, Alt_R, Super_L (Windows-Taste), Super_R, ExtendedChars (AltGr).",
     "Especifica la asignación de la tecla Comando derecha: Alt_L, Alt_R, Super_L (tecla Windows), Super_R, "
     "ExtendedChars (AltGr).",
     "Indique l'affectation de la touche Commande droite : Alt_L, Alt_R, Super_L (touche Windows), Super_R, "
     "ExtendedChars (AltGr).",
     "Specify the mapping of the right Command key: Alt_L, Alt_R, Super_L (Windows key), Super_R, ExtendedChars "
     "(AltGr).",
     "Especifique o mapeamento da tecla Command direita: Alt_L, Alt_R, Super_L (tecla Windows), Super_R, "
     "ExtendedChars (AltGr)."},
    {"qoutil_param_rightoptkey",
     "Zuordnung der rechten Wahltaste: Alt_L, Alt_R, Super_L (Windows-Taste), Super_R, ExtendedChars (AltGr).",
     "Especifica la asignación de la tecla Opción derecha: Alt_L, Alt_R, Super_L (tecla Windows), Super_R, "
     "ExtendedChars (AltGr).",
     "Indique l'affectation de la touche Option droite : Alt_L, Alt_R, Super_L (touche Windows), Super_R, "
     "ExtendedChars (AltGr).",
     "Specify the mapping of the right Option key: Alt_L, Alt_R, Super_L (Windows key), Super_R, ExtendedChars "
     "(AltGr).",
     "Especifique o mapeamento da tecla Option direita: Alt_L, Alt_R, Super_L (tecla Windows), Super_R, "
     "ExtendedChars (AltGr)."},
};

// Static initialisers of other files may call registerMessages before this
// file's own one runs: a constant-initialised counter is safe then.
constinit int registrations = 0;

[[maybe_unused]] const bool registered = (registerMessages(), true);

}  // namespace

void registerMessages() {
  if (registrations++ > 0) return;
  loc::addBuiltinTexts(kRows);
}

}  // namespace qoutil
