// The built-in texts of the localisation core itself: units, periods and
// the `Locale` parameter's description, in de, es, fr, en and pt.

#include "qocore/base/loc/Localize.h"

namespace loc {

namespace {

constexpr BuiltinText kRows[] = {
    {"loc_byterate_gibi_many", "%D GB/s", "%D GB/s", "%D Go/s", "%D GB/s", "%D GB/s"},
    {"loc_byterate_gibi_sing", "%D GB/s", "%D GB/s", "%D Go/s", "%D GB/s", "%D GB/s"},
    {"loc_byterate_mebi_many", "%D MB/s", "%D MB/s", "%D Mo/s", "%D MB/s", "%D MB/s"},
    {"loc_byterate_mebi_sing", "%D MB/s", "%D MB/s", "%D Mo/s", "%D MB/s", "%D MB/s"},
    {"loc_byterate_kibi_many", "%D KB/s", "%D KB/s", "%D Ko/s", "%D KB/s", "%D KB/s"},
    {"loc_byterate_kibi_sing", "%D KB/s", "%D KB/s", "%D Ko/s", "%D KB/s", "%D KB/s"},
    {"loc_byterate_unit_many", "%D Bytes/s", "%D bytes/s", "%D octets/s", "%D bytes/s", "%D bytes/s"},
    {"loc_byterate_unit_sing", "%D Byte/s", "%D byte/s", "%D octet/s", "%D byte/s", "%D byte/s"},
    {"loc_bytesize_tebi_decimal", "%S TB", "%S TB", "%S To", "%S TB", "%S TB"},
    {"loc_bytesize_gibi_decimal", "%S GB", "%S GB", "%S Go", "%S GB", "%S GB"},
    {"loc_bytesize_mebi_decimal", "%S MB", "%S MB", "%S Mo", "%S MB", "%S MB"},
    {"loc_bytesize_kibi_decimal", "%S KB", "%S KB", "%S Ko", "%S KB", "%S KB"},
    {"loc_bytesize_unit_many", "%D Bytes", "%D bytes", "%D octets", "%D bytes", "%D bytes"},
    {"loc_bytesize_unit_sing", "%D Byte", "%D byte", "%D octet", "%D byte", "%D byte"},
    {"loc_period_day_many", "%D Tage", "%D días", "%D jours", "%D days", "%D dias"},
    {"loc_period_day_sing", "%D Tag", "%D día", "%D jour", "%D day", "%D dia"},
    {"loc_period_hour_many", "%D Stunden", "%D horas", "%D heures", "%D hours", "%D horas"},
    {"loc_period_hour_sing", "%D Stunde", "%D hora", "%D heure", "%D hour", "%D hora"},
    {"loc_period_minute_many", "%D Minuten", "%D minutos", "%D minutes", "%D minutes", "%D minutos"},
    {"loc_period_minute_sing", "%D Minute", "%D minuto", "%D minute", "%D minute", "%D minuto"},
    {"loc_period_second_many", "%D Sekunden", "%D segundos", "%D secondes", "%D seconds", "%D segundos"},
    {"loc_period_second_sing", "%D Sekunde", "%D segundo", "%D seconde", "%D second", "%D segundo"},
    {"loc_time_tomorrow", "morgen", "mañana", "demain", "tomorrow", "amanhã"},
    {"loc_time_yesterday", "gestern", "ayer", "hier", "yesterday", "ontem"},
    {"loc_timedate_separator", "%1$S, %2$S", "%1$S, %2$S", "%1$S, %2$S", "%1$S, %2$S", "%1$S, %2$S"},
    {"loc_timezone_separator", "%1$S %2$S", "%1$S %2$S", "%1$S %2$S", "%1$S %2$S", nullptr},
    {"loc_param_locale",
     "Zu verwendendes Gebietsschema. Geben Sie en_US, de_DE, es_ES, fr_FR oder pt_BR an, oder lassen Sie es "
     "leer, um das Gebietsschema des Benutzers oder des Systems zu verwenden.",
     "Configuración regional que se usará. Indique en_US, de_DE, es_ES, fr_FR o pt_BR, o déjelo vacío para "
     "usar la configuración regional del usuario o del sistema, según corresponda.",
     "Paramètres régionaux à utiliser. Indiquez en_US, de_DE, es_ES, fr_FR ou pt_BR, ou laissez vide pour "
     "choisir ceux de l'utilisateur ou du système selon le cas.",
     "Locale to use. Specify one of en_US, de_DE, es_ES, fr_FR, or pt_BR, or leave empty to select the user "
     "or system locale as appropriate.",
     "Localidade a usar. Especifique en_US, de_DE, es_ES, fr_FR ou pt_BR, ou deixe em branco para selecionar "
     "a localidade do usuário ou do sistema, conforme apropriado."},
};

void registerCoreStrings() { addBuiltinTexts(kRows); }

[[maybe_unused]] const bool registered = (registerCoreStrings(), true);

}  // namespace

}  // namespace loc
