/* The few services of the system the PPPoE starter calls. Natively they
   are the C library's (SkellanPosix.c); on the recorder they are system
   calls of our own (SkellanMips.c), so that the program needs no C
   library and runs on every 32-bit little-endian MIPS core. */
#ifndef SKELLAN_SYS_H
#define SKELLAN_SYS_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Opens the file for reading; -1 when it cannot be opened. */
int Sys_OpenRead(const char* path);
/* Reads at most n bytes; the count read, 0 at the end, -1 on an error. */
long Sys_Read(int fd, void* buffer, size_t n);
void Sys_Close(int fd);
/* Starts the program at path with the argument vector argv (NULL-ended)
   and the process's own environment, and waits for it to end. What it
   does or returns is not looked at. */
void Sys_RunAndWait(const char* path, char* const argv[]);

#ifdef __cplusplus
}
#endif

#endif
