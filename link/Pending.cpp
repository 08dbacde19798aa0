// Stand-ins for later modules' functions that the transport calls; each
// does nothing until its module replaces it. Owns no state.
#include "link/Pending.h"

