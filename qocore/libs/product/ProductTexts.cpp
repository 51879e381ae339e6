#include "qocore/libs/product/ProductTexts.h"

#include "qocore/base/loc/Localize.h"

namespace product {

namespace {

// The copyright line is the same in every language.
#define PRODUCT_COPYRIGHT "Copyright \u00a9 2026 Corvane. All rights reserved."

constexpr loc::BuiltinText kRows[] = {
    {"product_about_fmt", "Über %S", "Acerca de %S", "À propos de %S", "About %S", "Sobre %S"},
    {"product_ack_intro", "Hinweise zu Software von Drittanbietern finden Sie unter:",
     "Para ver los reconocimientos de terceros, consulte:", "Pour les mentions relatives aux tiers, voir :",
     "For third party acknowledgements see:", "Para ver os reconhecimentos de terceiros, consulte:"},
    {"product_copyright", PRODUCT_COPYRIGHT, PRODUCT_COPYRIGHT, PRODUCT_COPYRIGHT, PRODUCT_COPYRIGHT,
     PRODUCT_COPYRIGHT},
    {"product_further_info", "Weitere Informationen finden Sie unter www.corvane.example.",
     "Para obtener más información, visite www.corvane.example.",
     "Pour plus d'informations, consultez www.corvane.example.", "For further information visit www.corvane.example.",
     "Para obter mais informações, visite www.corvane.example."},
    {"product_info_marked_up_fmt",
     "<div style=\"text-align:left\">Weitere Informationen finden Sie in den <a href=\"%S\">Hinweisen von "
     "Corvane</a>.</div>",
     "<div style=\"text-align:left\">Para obtener más información, consulte los <a href=\"%S\">avisos de "
     "Corvane</a>.</div>",
     "<div style=\"text-align:left\">Pour plus d'informations, consultez les <a href=\"%S\">mentions de "
     "Corvane</a>.</div>",
     "<div style=\"text-align:left\">For further information see the <a href=\"%S\">notices of "
     "Corvane</a>.</div>",
     "<div style=\"text-align:left\">Para obter mais informações, consulte os <a href=\"%S\">avisos da "
     "Corvane</a>.</div>"},
    {"product_patents", "Geschützt durch Patente, siehe die unten genannte Adresse.",
     "Protegido por patentes; consulte la dirección indicada abajo.",
     "Protégé par des brevets ; voir l'adresse indiquée ci-dessous.", "Protected by patents; see the address below.",
     "Protegido por patentes; consulte o endereço abaixo."},
    {"product_trademarks", "Corvane\u00ae und yarl\u2122 sind Marken von Corvane.",
     "Corvane\u00ae y yarl\u2122 son marcas comerciales de Corvane.",
     "Corvane\u00ae et yarl\u2122 sont des marques de Corvane.",
     "Corvane\u00ae and yarl\u2122 are trademarks of Corvane.",
     "Corvane\u00ae e yarl\u2122 são marcas comerciais da Corvane."},
};

#undef PRODUCT_COPYRIGHT

// Static initialisers of other files may call registerProductTexts before
// this file's own one runs: a constant-initialised counter is safe then.
constinit int registrations = 0;

[[maybe_unused]] const bool registered = (registerProductTexts(), true);

}  // namespace

void registerProductTexts() {
  if (registrations++ > 0) return;
  loc::addBuiltinTexts(kRows);
}

}  // namespace product
