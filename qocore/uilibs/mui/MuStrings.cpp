#include "qocore/uilibs/mui/MuStrings.h"

#include <mutex>

#include "qocore/base/loc/Localize.h"

namespace mui {

namespace {

// Columns: key, de, es, fr, en, pt.  Only the about title is shown by this
// program; the file-dialog texts are carried for a dialog it does not build.
constexpr loc::BuiltinText kRows[] = {
    {"mui_aboutdlg_title_fmt", "%S - Info", "%S: Acerca de", "%S - À propos", "%S - About", "%S - Sobre"},
    {"mui_filedlgtx_filter_alldirs", "Alle Verzeichnisse", "Todos los directorios", "Tous les répertoires",
     "All directories", "Todos os diretórios"},
    {"mui_filedlgtx_filter_alldirswithhidden", "Alle Verzeichnisse, einschließlich ausgeblendete",
     "Todos los directorios, incluidos los ocultos", "Tous les répertoires, y compris masqués",
     "All directories, including hidden", "Todos os diretórios, inclusive os ocultos"},
    {"mui_filedlgtx_filter_allfileswithhidden", "Alle Dateien, einschließlich ausgeblendete",
     "Todos los archivos, incluidos los ocultos", "Tous les fichiers, y compris masqués", "All files, including hidden",
     "Todos os arquivos, inclusive os ocultos"},
    {"mui_filedlgtx_folder_label", "Ordner:", "Carpeta:", "Dossier :", "Folder:", "Pasta:"},
    {"mui_filedlgtx_modified_heading", "Geändert", "Modificado", "Modifié", "Modified", "Modificado"},
    {"mui_filedlgtx_name_heading", "Name", "Nombre", "Nom", "Name", "Nome"},
    {"mui_filedlgtx_name_label", "Name:", "Nombre:", "Nom :", "Name:", "Nome:"},
    {"mui_filedlgtx_overwrite", "Die Datei ist bereits vorhanden. Möchten Sie sie überschreiben?",
     "El archivo ya existe. ¿Desea sobreescribirlo?", "Le fichier existe déjà. Souhaitez-vous l'écraser ?",
     "File already exists. Do you wish to overwrite?", "Arquivo já existente. Deseja sobrescrevê-lo?"},
    {"mui_filedlgtx_place_home", "Start", "Inicio", "Accueil", "Home", "Página inicial"},
    {"mui_filedlgtx_place_root", "Dateiystem-Root", "Raíz del sistema de archivos", "Racine du système de fichiers",
     "Filesystem root", "Raiz do sistema de arquivos"},
    {"mui_filedlgtx_places_heading", "Orte", "Posiciones", "Lieux", "Places", "Locais"},
    {"mui_filedlgtx_show_label", "Anzeigen:", "Mostrar:", "Afficher :", "Show:", "Mostrar:"},
    {"mui_filedlgtx_size_heading", "Größe", "Tamaño", "Taille", "Size", "Tamanho"},
    {"mui_filedlgtx_up_btn", "Nach oben", "Arriba", "Haut", "Up", "Para cima"},
    {"mui_filedlgtxwin_filter_allfiles", "Alle Dateien", "Todos los archivos", "Tous les fichiers", "All files",
     "Todos os arquivos"},
};

[[maybe_unused]] const bool kRegistered = (registerMuiTexts(), true);

}  // namespace

void registerMuiTexts() {
  static constinit std::once_flag once;
  std::call_once(once, [] { loc::addBuiltinTexts(kRows); });
}

std::map<std::string, ui::Menu*>& popupMenus() {
  static std::map<std::string, ui::Menu*> menus;
  return menus;
}

}  // namespace mui
