/* The starter's system services from the C library, for the native build
   the tests drive. */
#define _POSIX_C_SOURCE 1
#include "recorder/SkellanSys.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

int Sys_OpenRead(const char* path) { return open(path, O_RDONLY); }

long Sys_Read(int fd, void* buffer, size_t n)
{
    ssize_t got;
    do {
        got = read(fd, buffer, n);
    } while (got < 0 && errno == EINTR);
    return (long)got;
}

void Sys_Close(int fd) { close(fd); }

void Sys_RunAndWait(const char* path, char* const argv[])
{
    pid_t pid;
    int status;

    pid = fork();
    if (pid == 0) {
        execv(path, argv);
        _exit(127);
    }
    if (pid < 0) return;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
}
