#include "libs/qoSetup/SetupTexts.h"

#include <iterator>

#include "qocore/base/loc/Localize.h"

namespace qoSetup {

namespace {

// Columns: key, de, es, fr, en, pt; rows in key order.  The product's name
// stays as it is in every language.
// clang-format off
constexpr loc::BuiltinText kRows[] = {
    {"qoSetup_applytoken_wait",
     "Bitte warten Sie, bis die Einrichtung abgeschlossen ist ...",
     "Espere mientras se completa la configuración ...",
     "Veuillez patienter pendant la fin de la configuration ...",
     "Please wait while the setup completes ...",
     "Aguarde enquanto a configuração é concluída ..."},
    {"qoSetup_cancel", "Abbrechen", "Cancelar", "Annuler", "Cancel", "Cancelar"},
    {"qoSetup_download_cancelled", "Download abgebrochen", "Descarga cancelada", "Téléchargement annulé",
     "Download cancelled", "Download cancelado"},
    {"qoSetup_download_downloading_fmt", "%S wird heruntergeladen...", "Descargando %S...",
     "Téléchargement de %S...", "Downloading %S...", "Baixando %S..."},
    {"qoSetup_error_cmdout", "Ausgabe des Installationsbefehls", "Salida del comando de instalación",
     "Sortie de la commande d'installation", "Install command output", "Saída do comando de instalação"},
    {"qoSetup_error_cmdoutbtn", "Ausgabe des Installationsbefehls anzeigen...",
     "Mostrar la salida del comando de instalación...", "Afficher la sortie de la commande d'installation...",
     "Show install command output...", "Mostrar a saída do comando de instalação..."},
    {"qoSetup_error_install_failed", "Installation fehlgeschlagen", "Error en la instalación",
     "Échec de l'installation", "Installation failed", "Falha na instalação"},
    {"qoSetup_error_install_failed_more",
     "Beim Installieren von Corvane Server ist ein Fehler aufgetreten",
     "Se produjo un error al intentar instalar Corvane Server",
     "Une erreur s'est produite lors de l'installation de Corvane Server",
     "An error occurred while attempting to install Corvane Server",
     "Ocorreu um erro ao tentar instalar o Corvane Server"},
    {"qoSetup_error_no_install_cmd", "Kein geeigneter Installationsbefehl gefunden",
     "No se encontró ningún comando de instalación adecuado", "Aucune commande d'installation appropriée trouvée",
     "No suitable install command found", "Nenhum comando de instalação adequado encontrado"},
    {"qoSetup_error_retrybtn", "Erneut versuchen", "Reintentar", "Réessayer", "Try again", "Tentar novamente"},
    {"qoSetup_error_support_html_fmt",
     "Bitte installieren Sie erneut. Wenn das Problem weiterhin besteht, lesen Sie unsere "
     "<a href=\"%S\">Online-Hilfe</a>",
     "Intente reinstalar. Si el problema continúa, consulte nuestra <a href=\"%S\">Ayuda en línea</a>",
     "Veuillez réessayer l'installation. Si le problème persiste, consultez notre <a href=\"%S\">aide en ligne</a>",
     "Please try reinstalling. If the problem persists refer to our <a href=\"%S\">Online Help</a>",
     "Tente reinstalar. Se o problema persistir, consulte nossa <a href=\"%S\">Ajuda on-line</a>"},
    // The extension's page lies at a reserved example domain: the text is
    // never shown here, and no outside address is promised.
    {"qoSetup_gnome_shell_icon_notifications_html",
     "Um Infobereichssymbole in GNOME (>=3.26) zu sehen, müssen Sie möglicherweise die\n"
     "<a href=\"https://extensions.example.org/appindicator-support/\">AppIndicator and KStatusNotifierItem "
     "Support</a>-Shell-Erweiterung oder eine ähnliche installieren",
     "Para ver los iconos de la bandeja en GNOME (>=3.26), es posible que deba instalar la extensión de shell\n"
     "<a href=\"https://extensions.example.org/appindicator-support/\">AppIndicator and KStatusNotifierItem "
     "Support</a> o una similar",
     "Pour voir les icônes de la zone de notification dans GNOME (>=3.26), vous devrez peut-être installer "
     "l'extension\n<a href=\"https://extensions.example.org/appindicator-support/\">AppIndicator and "
     "KStatusNotifierItem Support</a> du shell ou une extension similaire",
     "To see tray icons in GNOME (>=3.26), you may need to install the\n"
     "<a href=\"https://extensions.example.org/appindicator-support/\">AppIndicator and KStatusNotifierItem "
     "Support</a> shell extension or similar",
     "Para ver os ícones da bandeja no GNOME (>=3.26), talvez seja necessário instalar a extensão de shell\n"
     "<a href=\"https://extensions.example.org/appindicator-support/\">AppIndicator and KStatusNotifierItem "
     "Support</a> ou uma semelhante"},
    {"qoSetup_initial_accept_and_install", "Akzeptieren und installieren", "Aceptar e instalar",
     "Accepter et installer", "Accept and Install", "Aceitar e instalar"},
    {"qoSetup_initial_eula_pp_html_fmt",
     "Wenn Sie fortfahren, stimmen Sie der\n<a href=\"%1$S\">Endbenutzer-Lizenzvereinbarung</a> und der "
     "<a href=\"%2$S\">Datenschutzerklärung</a> zu",
     "Al continuar, acepta el\n<a href=\"%1$S\">Contrato de licencia de usuario final</a> y la "
     "<a href=\"%2$S\">Política de privacidad</a>",
     "En continuant, vous acceptez le\n<a href=\"%1$S\">Contrat de licence utilisateur final</a> et la "
     "<a href=\"%2$S\">Politique de confidentialité</a>",
     "By proceeding you agree to the\n<a href=\"%1$S\">End User License Agreement</a> and "
     "<a href=\"%2$S\">Privacy Policy</a>",
     "Ao continuar, você concorda com o\n<a href=\"%1$S\">Contrato de Licença do Usuário Final</a> e a "
     "<a href=\"%2$S\">Política de Privacidade</a>"},
    {"qoSetup_install_cancelled", "Installation abgebrochen", "Instalación cancelada", "Installation annulée",
     "Installation cancelled", "Instalação cancelada"},
    {"qoSetup_install_elevating", "Rechte werden erhöht...", "Elevando privilegios...",
     "Élévation des privilèges...", "Elevating...", "Elevando privilégios..."},
    {"qoSetup_install_elevation_failed", "Rechteerhöhung fehlgeschlagen", "Error al elevar privilegios",
     "Échec de l'élévation des privilèges", "Elevation failed", "Falha ao elevar privilégios"},
    {"qoSetup_install_errorcode_fmt", "Fehlercode: %D", "Código de error: %D", "Code d'erreur : %D",
     "Error code: %D", "Código de erro: %D"},
    {"qoSetup_install_installing_fmt", "%S wird installiert...", "Instalando %S...", "Installation de %S...",
     "Installing %S...", "Instalando %S..."},
    {"qoSetup_install_success", "Installation erfolgreich", "Instalación correcta", "Installation réussie",
     "Installation Successful", "Instalação concluída com êxito"},
    {"qoSetup_launch", "Starten", "Iniciar", "Lancer", "Launch", "Iniciar"},
    {"qoSetup_linux_disable_wayland_fmt",
     "Möchten Sie Wayland deaktivieren, indem Sie bei der Einstellung WaylandEnable=false in %S die "
     "Auskommentierung aufheben?  Dies ist für Corvane Server im Dienstmodus erforderlich.  Möglicherweise "
     "müssen Sie danach neu starten.",
     "¿Desea desactivar Wayland quitando el comentario de la opción WaylandEnable=false en %S?  Es necesario "
     "para Corvane Server en modo de servicio.  Es posible que deba reiniciar después.",
     "Voulez-vous désactiver Wayland en décommentant le paramètre WaylandEnable=false dans %S ?  Cela est "
     "nécessaire pour Corvane Server en mode Service.  Vous devrez peut-être redémarrer ensuite.",
     "Would you like to disable Wayland by uncommenting the WaylandEnable=false setting in %S?  This is required "
     "for Corvane Server in Service Mode.  You may need to reboot afterwards.",
     "Deseja desativar o Wayland removendo o comentário da configuração WaylandEnable=false em %S?  Isso é "
     "necessário para o Corvane Server no Modo de serviço.  Talvez seja necessário reiniciar depois."},
    {"qoSetup_linux_errorcode_fmt", "Fehlercode nach der Installation: %D",
     "Código de error posterior a la instalación: %D", "Code d'erreur après l'installation : %D",
     "Post-install error code: %D", "Código de erro pós-instalação: %D"},
    {"qoSetup_settings_analytics", "Anonyme Nutzungsdaten senden, um Corvane Server zu verbessern",
     "Enviar datos de uso anónimos para ayudar a mejorar Corvane Server",
     "Envoyer des données d'utilisation anonymes pour aider à améliorer Corvane Server",
     "Send anonymous usage data to help improve Corvane Server",
     "Enviar dados de uso anônimos para ajudar a melhorar o Corvane Server"},
    {"qoSetup_settings_sysauth_desc_html_fmt",
     "Verwenden Sie Benutzernamen und Kennwort eines %1$S-Kontos auf diesem Computer oder in einer Domäne. "
     "<a href=\"%2$S\">Weitere Informationen</a>",
     "Use el nombre de usuario y la contraseña de una cuenta de %1$S en este equipo o en un dominio. "
     "<a href=\"%2$S\">Más información</a>",
     "Utilisez le nom d'utilisateur et le mot de passe d'un compte %1$S sur cet ordinateur ou sur un domaine. "
     "<a href=\"%2$S\">En savoir plus</a>",
     "Use the username and password of a %1$S account on this computer or on a domain. "
     "<a href=\"%2$S\">Learn more</a>",
     "Use o nome de usuário e a senha de uma conta do %1$S neste computador ou em um domínio. "
     "<a href=\"%2$S\">Saiba mais</a>"},
    {"qoSetup_settings_text1", "Willkommen bei Corvane Server", "Bienvenido a Corvane Server",
     "Bienvenue dans Corvane Server", "Welcome to Corvane Server", "Bem-vindo ao Corvane Server"},
    {"qoSetup_settings_text2", "Mit diesem Gerät kann verbunden werden über:",
     "Se puede conectar a este dispositivo mediante:", "Il est possible de se connecter à cet appareil avec :",
     "This device can be connected to using:", "É possível se conectar a este dispositivo usando:"},
    {"qoSetup_settings_updates", "Automatisch nach kritischen Sicherheitspatches und Updates suchen",
     "Buscar automáticamente revisiones de seguridad críticas y actualizaciones",
     "Rechercher automatiquement les correctifs de sécurité critiques et les mises à jour",
     "Check automatically for critical security patches and updates",
     "Verificar automaticamente se há patches de segurança críticos e atualizações"},
    {"qoSetup_setupapp_name_r", "Corvane® Server Setup", "Corvane® Server Setup", "Corvane® Server Setup",
     "Corvane® Server Setup", "Corvane® Server Setup"},
    {"qoSetup_setupdlg_title", "Corvane Server Setup", "Corvane Server Setup", "Corvane Server Setup",
     "Corvane Server Setup", "Corvane Server Setup"},
    {"qoSetup_signinchoose_nosignin_btn", "Nur für direkte oder Offline-Verbindungen verwenden",
     "Usar solo para conectividad directa o sin conexión",
     "Utiliser uniquement pour une connectivité directe ou hors ligne",
     "Use only for direct or offline connectivity", "Usar somente para conectividade direta ou off-line"},
    {"qoSetup_signinchoose_signin_btn", "Zum Fortfahren anmelden", "Iniciar sesión para continuar",
     "Se connecter pour continuer", "Sign in to continue", "Entrar para continuar"},
    {"qoSetup_signinchoose_signin_tag", "Sie haben bereits ein Konto?", "¿Ya tiene una cuenta?",
     "Vous avez déjà un compte ?", "Already have an account?", "Já tem uma conta?"},
    {"qoSetup_signinchoose_timeout",
     "Zeitüberschreitung beim Warten auf den Abschluss der Anmeldung oder Registrierung. Bitte wählen Sie erneut.",
     "Se agotó el tiempo de espera para completar el inicio de sesión o el registro. Vuelva a seleccionar.",
     "Délai dépassé en attendant la fin de la connexion ou de l'inscription. Veuillez refaire votre choix.",
     "Timed out waiting for signing in or signing up to complete. Please select again.",
     "Tempo esgotado aguardando a conclusão da entrada ou do cadastro. Selecione novamente."},
    {"qoSetup_signinchoose_trial_btn", "Kostenlose Testversion starten", "Iniciar mi prueba gratuita",
     "Commencer mon essai gratuit", "Start my free trial", "Iniciar minha avaliação gratuita"},
    {"qoSetup_signinchoose_trial_tag", "Neu bei Corvane Server?", "¿Es nuevo en Corvane Server?",
     "Nouveau sur Corvane Server ?", "New to Corvane Server?", "Novo no Corvane Server?"},
    {"qoSetup_signingin_browser_trouble", "Sie sehen den Browser nicht?", "¿Tiene problemas para ver el navegador?",
     "Vous ne voyez pas le navigateur ?", "Having trouble seeing the browser?", "Não está vendo o navegador?"},
    {"qoSetup_signingin_go_back", "Zurück und erneut versuchen", "Volver e intentarlo de nuevo",
     "Revenir en arrière et réessayer", "Go back and try again", "Voltar e tentar novamente"},
    {"qoSetup_signingin_goto_browser", "Zum Browser wechseln, um sich anzumelden oder zu registrieren",
     "Vaya al navegador para iniciar sesión o registrarse",
     "Accédez au navigateur pour vous connecter ou vous inscrire", "Go to the browser to sign in or sign up",
     "Vá para o navegador para entrar ou se cadastrar"},
    {"qoSetup_urihandler_error_fmt", "Fehler beim Kontaktieren von Corvane Server Setup\n\nDetails: %S",
     "Error al contactar con Corvane Server Setup\n\nDetalles: %S",
     "Erreur lors de la communication avec Corvane Server Setup\n\nDétails : %S",
     "Error contacting Corvane Server Setup\n\nDetails: %S",
     "Erro ao contatar o Corvane Server Setup\n\nDetalhes: %S"},
};
// clang-format on
static_assert(std::size(kRows) == 40);

// Read, then incremented, by every call.  Constant-initialised, so the
// static initialisers of other files may call first.
constinit unsigned registrations = 0;

}  // namespace

void registerSetupTexts() {
  if (registrations++ != 0) return;
  // Language by language (de, es, fr, en, pt), each in the table's order.
  loc::addBuiltinTexts(kRows);
}

}  // namespace qoSetup
