#pragma once
// The in-memory toolkit backend now lives with the toolkit's other test
// fixtures in testing/ui/; this path stays for code that names it.

#include "testing/ui/MuTestBackend.h"
