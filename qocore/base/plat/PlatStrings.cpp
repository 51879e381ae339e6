#include "qocore/base/plat/PlatStrings.h"

#include <iterator>
#include <mutex>

#include "qocore/base/loc/Localize.h"

namespace plat {

namespace {

constexpr loc::BuiltinText kRows[] = {
    {"plat_bad_argument", "Falsches Argument '%S'.", "El argumento '%S' no es correcto.", "Argument incorrect : '%S'.",
     "Bad argument '%S'.", "Argumento incorreto '%S'."},
    {"plat_configuration_global_params", "Globale Parameter", "Parámetros globales", "Paramètres globaux",
     "Global parameters", "Parâmetros globais"},
    {"plat_configuration_help_default", "Standard", "predeterminado", "par défaut", "default", "padrão"},
    {"plat_configuration_log_dests_title",
     "Protokollziele:", "Destinos de registro:", "Destinations du journal :", "Log destinations:", "Destinos de log:"},
    {"plat_configuration_log_names_title",
     "Protokollnamen:", "Nombres de registro:", "Noms des journaux :", "Log names:", "Nomes de log:"},
    {"plat_configuration_option_usage_only", "Optionen sind Parameter.", "Las opciones son parámetros.",
     "Les options sont des paramètres.", "Options are parameters.", "As opções são parâmetros."},
    {"plat_configuration_option_usage_with_extra",
     "Optionen sind Parameter sowie die folgenden:", "Las opciones son parámetros y también las siguientes:",
     "Les options sont des paramètres, ainsi que les suivantes :", "Options are parameters, and also the following:",
     "As opções são parâmetros e também as seguintes:"},
    {"plat_configuration_param_usage",
     "Parameter werden mit -<param> eingeschaltet oder mit -<param>=0 ausgeschaltet\n"
     "Werte können als -<param> <value> angegeben werden\n"
     "Weitere gültige Formen sind <param>=<value> -<param>=<value> --<param>=<value>\n"
     "Groß-/Kleinschreibung wird nicht beachtet.  Gültige Parameter sind unten aufgeführt.",
     "Los parámetros se activan con -<param> o se desactivan con -<param>=0\n"
     "Los valores se pueden indicar como -<param> <value>\n"
     "Otras formas válidas son <param>=<value> -<param>=<value> --<param>=<value>\n"
     "No se distingue entre mayúsculas y minúsculas.  Los parámetros válidos se enumeran a continuación.",
     "Les paramètres s'activent avec -<param> ou se désactivent avec -<param>=0\n"
     "Les valeurs peuvent être indiquées sous la forme -<param> <value>\n"
     "Autres formes valides : <param>=<value> -<param>=<value> --<param>=<value>\n"
     "Les noms ne tiennent pas compte de la casse.  Les paramètres valides sont listés ci-dessous.",
     "Parameters can be turned on with -<param> or off with -<param>=0\n"
     "Values can be specified as -<param> <value>\n"
     "Other valid forms are <param>=<value> -<param>=<value> --<param>=<value>\n"
     "Names are case-insensitive.  Valid parameters are listed below.",
     "Os parâmetros podem ser ativados com -<param> ou desativados com -<param>=0\n"
     "Os valores podem ser especificados como -<param> <value>\n"
     "Outras formas válidas são <param>=<value> -<param>=<value> --<param>=<value>\n"
     "Os nomes não diferenciam maiúsculas de minúsculas.  Os parâmetros válidos estão listados abaixo."},
    {"plat_missing_argument", "Fehlendes Argument für '%S'.", "Falta el argumento de '%S'.",
     "Argument manquant pour '%S'.", "Missing argument to '%S'.", "Argumento ausente para '%S'."},
    {"plat_param_log", "Ereignisse im Format <log>:<target>:<level>[,...] aufzeichnen.",
     "Registrar eventos con el formato <log>:<target>:<level>[,...].",
     "Enregistrer les événements au format <log>:<target>:<level>[,...].",
     "Record events in the format <log>:<target>:<level>[,...].",
     "Registrar eventos no formato <log>:<target>:<level>[,...]."},
    {"plat_param_log_keep_days", "Protokolldateien X Tage lang aufbewahren.",
     "Conservar los archivos de registro durante X días.", "Conserver les fichiers journaux pendant X jours.",
     "Keep log files for X days.", "Manter os arquivos de log por X dias."},
    {"plat_param_logdir", "Verzeichnis für Protokollausgaben, die in eine Datei geleitet werden.",
     "Directorio en el que se guarda el registro dirigido a un archivo.",
     "Dossier où enregistrer la sortie du journal dirigée vers un fichier.",
     "Directory in which to store log output directed to file.",
     "Diretório no qual armazenar a saída de log direcionada para arquivo."},
    {"plat_param_logfile", "Datei für Protokollausgaben, die in eine Datei geleitet werden.",
     "Archivo en el que se guarda el registro dirigido a un archivo.",
     "Fichier où enregistrer la sortie du journal dirigée vers un fichier.",
     "File in which to store log output directed to file.",
     "Arquivo no qual armazenar a saída de log direcionada para arquivo."},
    {"plat_press_return_to_continue", "Drücken Sie die Eingabetaste, um fortzufahren",
     "Pulse la tecla Intro para continuar", "Appuyez sur la touche Entrée pour continuer",
     "Press Enter/Return key to continue", "Pressione a tecla Enter para continuar"},
    {"plat_run_with_help", "Mit -help aufrufen, um die Nutzung anzuzeigen.", "Ejecute con -help para ver el uso.",
     "Lancez avec -help pour connaître la syntaxe.", "Run with -help for usage.", "Execute com -help para ver o uso."},
    {"plat_string_too_long", "Zeichenfolge zu lang", "Cadena demasiado larga", "Chaîne trop longue", "String too long",
     "Cadeia de caracteres muito longa"},
    {"plat_this_program_not_directly", "Dieses Programm ist nicht für den direkten Aufruf bestimmt.",
     "Este programa no está pensado para ejecutarse directamente.",
     "Ce programme n'est pas destiné à être lancé directement.", "This program is not intended to be run directly.",
     "Este programa não se destina a ser executado diretamente."},
    {"plat_usage_help", "[Erweiterte] Nutzungsinformationen anzeigen.", "Mostrar información de uso [avanzada].",
     "Afficher l'aide [avancée] sur la syntaxe.", "Provide [advanced] usage information.",
     "Fornecer informações de uso [avançadas]."},
    {"plat_usage_label", "Nutzung:", "Uso:", "Syntaxe :", "Usage:", "Uso:"},
};
static_assert(std::size(kRows) == 19);

void registerTable() { loc::addBuiltinTexts(kRows); }

}  // namespace

void ensurePlatStrings() {
  // Constant-initialised, so it is ready before any static initialiser.
  static constinit std::once_flag once;
  std::call_once(once, registerTable);
}

}  // namespace plat
