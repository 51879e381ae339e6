#pragma once
// The product's own texts (the `product_*` keys: the About title, the
// maker's notices), in de, en, es, fr and pt.

namespace product {

// Registers the texts; only the first call of the process adds them.
void registerProductTexts();

}  // namespace product
