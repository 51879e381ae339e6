#pragma once
// The ui library's own texts (standard button labels, the standard menu
// titles and the file dialogs' texts), in de, en, es, fr and pt.  The
// message boxes and the menu bar register them on first use; the toolkit's
// button bar takes its labels from here too.

namespace ui {

// Registers the texts; only the first call of the process adds them.
void registerMessages();

}  // namespace ui
