#include "qocore/uilibs/ui/UiStrings.h"

#include <iterator>
#include <mutex>

#include "qocore/base/loc/Localize.h"

namespace ui {

namespace {

// Columns: key, de, es, fr, en, pt.
// clang-format off
constexpr loc::BuiltinText kRows[] = {
    {"ui_button_apply", "Übernehmen", "Aplicar", "Appliquer", "Apply", "Aplicar"},
    {"ui_button_back", "< Zurück", "< Atrás", "< Précédent", "< Back", "< Voltar"},
    {"ui_button_cancel", "Abbrechen", "Cancelar", "Annuler", "Cancel", "Cancelar"},
    {"ui_button_continue", "Fortfahren", "Continuar", "Continuer", "Continue", "Continuar"},
    {"ui_button_next", "Weiter >", "Siguiente >", "Suivant >", "Next >", "Avançar >"},
    {"ui_button_no", "Nein", "No", "Non", "No", "Não"},
    {"ui_button_ok", "OK", "Aceptar", "OK", "OK", "OK"},
    {"ui_button_open", "Öffnen", "Abrir", "Ouvrir", "Open", "Abrir"},
    {"ui_button_save", "Speichern", "Guardar", "Enregistrer", "Save", "Salvar"},
    {"ui_button_yes", "Ja", "Sí", "Oui", "Yes", "Sim"},
    {"ui_getfileorfolderdialog_all_files_filter", "Alle Dateien", "Todos los archivos", "Tous les fichiers",
     "All Files", "Todos os arquivos"},
    {"ui_getfileorfolderdialog_cannot_copy", "Dieser Ordner kann nicht gesendet werden",
     "Esta carpeta no se puede enviar", "Ce dossier ne peut pas être envoyé", "This folder cannot be sent",
     "Esta pasta não pode ser enviada"},
    {"ui_getfileorfolderdialog_entire_folder", "&Ganzen Ordner verwenden", "Usar la carpeta &entera",
     "Utiliser le dossier &entier", "Use &Entire Folder", "Usar a pasta &inteira"},
    {"ui_getfileorfolderdialog_no_selection", "Bitte öffnen Sie den Ordner, den Sie senden möchten.",
     "Vaya a la carpeta que desea enviar.", "Veuillez ouvrir le dossier que vous souhaitez envoyer.",
     "Please navigate into the folder you want to send.", "Navegue até a pasta que deseja enviar."},
    {"ui_getfileorfolderdialog_non_filesystem", "Nur Orte im Dateisystem werden unterstützt",
     "Solo se admiten ubicaciones del sistema de archivos",
     "Seuls les emplacements du système de fichiers sont pris en charge",
     "Only file-system locations are supported", "Somente locais do sistema de arquivos são suportados"},
    {"ui_getfileorfolderdialog_send_confirm", "Möchten Sie %S senden?", "¿Desea enviar %S?",
     "Voulez-vous envoyer %S ?", "Do you want to send %S?", "Deseja enviar %S?"},
    {"ui_menu_about", "&Info...", "&Acerca de...", "À &propos...", "&About...", "&Sobre..."},
    {"ui_menu_edit", "&Bearbeiten", "&Edición", "&Édition", "&Edit", "&Editar"},
    {"ui_menu_file", "&Datei", "&Archivo", "&Fichier", "&File", "&Arquivo"},
    {"ui_menu_help", "&Hilfe", "A&yuda", "&Aide", "&Help", "A&juda"},
    {"ui_menu_view", "&Ansicht", "&Ver", "&Affichage", "&View", "&Exibir"},
    {"ui_menu_window", "&Fenster", "Ve&ntana", "Fe&nêtre", "&Window", "&Janela"},
    {"ui_wfiledialog_cancel", "Abbrechen", "Cancelar", "Annuler", "Cancel", "Cancelar"},
    {"ui_wfiledialog_ok", "OK", "Aceptar", "OK", "OK", "OK"},
    {"ui_wfiledialog_path", "Pfad:", "Ruta:", "Chemin :", "Path:", "Caminho:"},
    {"ui_wfiledialog_show_hidden", "Ausgeblendete Objekte anzeigen", "Mostrar elementos ocultos",
     "Afficher les éléments masqués", "Show hidden items", "Mostrar itens ocultos"},
};
// clang-format on
static_assert(std::size(kRows) == 26);

}  // namespace

void registerMessages() {
  // Constant-initialised, so callers in static initialisers may use it.
  static constinit std::once_flag once;
  std::call_once(once, [] { loc::addBuiltinTexts(kRows); });
}

}  // namespace ui
