/* The PPPoE starter's one job: record in, client started. Owns only the
   record copy, the two NUL-terminated fields and the client's argument
   vector, all on the stack of Skellan_Run. Plain C89/C99 plus the POSIX
   process calls of the recorder's C library. */
#define _POSIX_C_SOURCE 1
#include "recorder/Skellan.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

static char kInterface[] = "adm0";
static char kUserOption[] = "-u";
static char kPasswordOption[] = "-p";
static char kKeepOption[] = "-k";

/* A field's text up to its first zero, at most 32 bytes, NUL-terminated. */
static void TakeField(char *text, const unsigned char *field)
{
    size_t n = 0;
    while (n < SKELLAN_FIELD_SIZE && field[n] != 0) n++;
    memcpy(text, field, n);
    text[n] = '\0';
}

/* Runs the client with argv and waits for it; its result is not looked at. */
static void RunClient(const char *clientPath, char **argv)
{
    pid_t pid;
    int status;

    pid = fork();
    if (pid == 0) {
        execv(clientPath, argv);
        _exit(127);
    }
    if (pid < 0) return;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

int Skellan_Run(const char *recordPath, const char *clientPath)
{
    unsigned char record[SKELLAN_RECORD_SIZE];
    char user[SKELLAN_FIELD_SIZE + 1];
    char password[SKELLAN_FIELD_SIZE + 1];
    char *argv[8];
    FILE *file;
    size_t got;

    file = fopen(recordPath, "rb");
    if (file == NULL) return -1;
    got = fread(record, 1, sizeof record, file);
    fclose(file);
    if (got < sizeof record) return -1;

    /* Any flag value other than 0 (the little-endian i16 at 0) means on. */
    if (record[0] == 0 && record[1] == 0) return 0;

    TakeField(user, record + 4);
    TakeField(password, record + 4 + SKELLAN_FIELD_SIZE);

    argv[0] = (char *)clientPath;
    argv[1] = kInterface;
    argv[2] = kUserOption;
    argv[3] = user;
    argv[4] = kPasswordOption;
    argv[5] = password;
    argv[6] = kKeepOption;
    argv[7] = NULL;
    RunClient(clientPath, argv);

    memset(record, 0, sizeof record);
    memset(password, 0, sizeof password);
    return 0;
}
