/* The PPPoE starter's one job: record in, client started. Owns only the
   record copy, the two NUL-terminated fields and the client's argument
   vector, all on the stack of Skellan_Run. Plain C99 over the few system
   services of SkellanSys.h: no C library is needed on the recorder. */
#include "recorder/Skellan.h"
#include "recorder/SkellanSys.h"

static char kInterface[] = "adm0";
static char kUserOption[] = "-u";
static char kPasswordOption[] = "-p";
static char kKeepOption[] = "-k";

/* A field's text up to its first zero, at most 32 bytes, NUL-terminated. */
static void TakeField(char* text, const unsigned char* field)
{
    size_t n = 0;
    while (n < SKELLAN_FIELD_SIZE && field[n] != 0) {
        text[n] = (char)field[n];
        n++;
    }
    text[n] = '\0';
}

/* Zeroes bytes the compiler must not leave out, though nothing reads them
   again: the password is not left on the stack. */
static void Wipe(void* bytes, size_t n)
{
    volatile unsigned char* p = (volatile unsigned char*)bytes;
    while (n-- > 0) *p++ = 0;
}

/* Reads up to n bytes, as many reads as it takes; the count read. */
static size_t ReadRecord(int fd, unsigned char* record, size_t n)
{
    size_t got = 0;
    while (got < n) {
        long r = Sys_Read(fd, record + got, n - got);
        if (r <= 0) break;
        got += (size_t)r;
    }
    return got;
}

int Skellan_Run(const char* recordPath, const char* clientPath)
{
    unsigned char record[SKELLAN_RECORD_SIZE];
    char user[SKELLAN_FIELD_SIZE + 1];
    char password[SKELLAN_FIELD_SIZE + 1];
    char* argv[8];
    size_t got;
    int fd;

    fd = Sys_OpenRead(recordPath);
    if (fd < 0) return -1;
    got = ReadRecord(fd, record, sizeof record);
    Sys_Close(fd);
    if (got < sizeof record) return -1;

    /* Any flag value other than 0 (the little-endian i16 at 0) means on. */
    if (record[0] == 0 && record[1] == 0) return 0;

    TakeField(user, record + 4);
    TakeField(password, record + 4 + SKELLAN_FIELD_SIZE);

    argv[0] = (char*)clientPath;
    argv[1] = kInterface;
    argv[2] = kUserOption;
    argv[3] = user;
    argv[4] = kPasswordOption;
    argv[5] = password;
    argv[6] = kKeepOption;
    argv[7] = NULL;
    Sys_RunAndWait(clientPath, argv);

    Wipe(record, sizeof record);
    Wipe(password, sizeof password);
    return 0;
}
