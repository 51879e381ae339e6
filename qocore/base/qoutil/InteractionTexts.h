#pragma once
// The qoutil library's own texts (edit-menu labels and the descriptions of
// the modifier-key parameters), in de, en, es, fr and pt.

namespace qoutil {

// Registers the texts; only the first call of the process adds them.
void registerMessages();

}  // namespace qoutil
