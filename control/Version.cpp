#include "control/Version.h"
const char gVersionText[] = "02030157";
