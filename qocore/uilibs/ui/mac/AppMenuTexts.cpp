#include <mutex>

#include "qocore/base/loc/Localize.h"
#include "qocore/uilibs/ui/mac/AppMenuBar.h"

namespace ui {

namespace {

// Columns: key, de, es, fr, en, pt.
constexpr loc::BuiltinText kRows[] = {
    {"ui_appmenubar_appmenu_about", "Über %S", "Acerca de %S", "À propos de %S", "About %S", "Sobre %S"},
    {"ui_appmenubar_appmenu_hide", "%S ausblenden", "Ocultar %S", "Masquer %S", "Hide %S", "Ocultar %S"},
    {"ui_appmenubar_appmenu_hideothers", "Andere ausblenden", "Ocultar otros", "Masquer les autres", "Hide Others",
     "Ocultar outros"},
    {"ui_appmenubar_appmenu_preferences", "Einstellungen...", "Preferencias...", "Préférences...", "Preferences...",
     "Preferências..."},
    {"ui_appmenubar_appmenu_quit", "%S beenden", "Salir de %S", "Quitter %S", "Quit %S", "Encerrar %S"},
    {"ui_appmenubar_appmenu_showall", "Alle einblenden", "Mostrar todo", "Tout afficher", "Show All", "Mostrar tudo"},
    {"ui_appmenubar_editmenu_delete", "Löschen", "Eliminar", "Supprimer", "Delete", "Apagar"},
    {"ui_appmenubar_editmenu_redo", "Wiederholen", "Rehacer", "Rétablir", "Redo", "Refazer"},
    {"ui_appmenubar_editmenu_undo", "Widerrufen", "Deshacer", "Annuler", "Undo", "Desfazer"},
    {"ui_appmenubar_windowmenu_bringalltofront", "Alle nach vorne bringen", "Traer todo al frente",
     "Tout ramener au premier plan", "Bring All to Front", "Trazer tudo para a frente"},
    {"ui_appmenubar_windowmenu_close", "Schließen", "Cerrar", "Fermer", "Close", "Fechar"},
    {"ui_appmenubar_windowmenu_minimize", "Minimieren", "Minimizar", "Réduire", "Minimize", "Minimizar"},
    {"ui_appmenubar_windowmenu_zoom", "Zoomen", "Zoom", "Réduire/agrandir", "Zoom", "Zoom"},
};

}  // namespace

void registerAppMenuTexts() {
  static constinit std::once_flag once;
  std::call_once(once, [] { loc::addBuiltinTexts(kRows); });
}

}  // namespace ui
