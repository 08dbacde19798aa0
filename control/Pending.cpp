// Placeholders for modules that are not built yet; each module replaces
// its own entries here when it arrives.
#include "control/Pending.h"

