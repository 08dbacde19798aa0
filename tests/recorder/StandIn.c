/* Stand-in for the PPPoE client in the Skellan tests: appends the argument
   vector it was started with to the file named by SKELLAN_STANDIN_LOG, as
   "argc N" and then one "LENGTH TEXT" line per argument. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char** argv)
{
    const char* logPath = getenv("SKELLAN_STANDIN_LOG");
    FILE* log;
    int i;

    if (logPath == NULL) return 2;
    log = fopen(logPath, "ab");
    if (log == NULL) return 3;
    fprintf(log, "argc %d\n", argc);
    for (i = 0; i < argc; i++) fprintf(log, "%lu %s\n", (unsigned long)strlen(argv[i]), argv[i]);
    return fclose(log) == 0 ? 0 : 4;
}
