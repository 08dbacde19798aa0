/* Entry point of Skellan on the recorder; the command line is ignored. */
#include "recorder/Skellan.h"

int main(void) { return Skellan_Run(SKELLAN_RECORD_PATH, SKELLAN_CLIENT_PATH); }
