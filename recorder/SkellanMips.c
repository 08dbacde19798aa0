/* The starter's system services on the recorder: Linux system calls of the
   32-bit MIPS calling convention (o32), made directly, and the few things a
   C library would otherwise give the program: its start (Sys_Begin, from
   SkellanStart.S), its end, and memcpy and memset, which the compiler may
   call on its own. Built for MIPS32 release 1 without a floating-point
   unit, it runs on every 32-bit little-endian MIPS core. Owns the
   environment pointer the program was started with. */
#include "recorder/SkellanSys.h"

int main(void);
void Sys_Begin(long* stack);
void* memcpy(void* destination, const void* source, size_t n);
void* memset(void* destination, int value, size_t n);

enum {
    NR_EXIT = 4001,
    NR_FORK = 4002,
    NR_READ = 4003,
    NR_OPEN = 4005,
    NR_CLOSE = 4006,
    NR_WAITPID = 4007,
    NR_EXECVE = 4011,
    NR_EXIT_GROUP = 4246,
    ERROR_INTERRUPTED = 4 /* EINTR */
};

static char** gEnvironment;

/* One system call with up to three arguments; the result, or minus the
   error number. The number is loaded right before the call: an older
   kernel that restarts an interrupted call goes back one instruction. */
#define SYSTEM_CALL(number, first, second, third, result)                                                              \
    do {                                                                                                               \
        register long v0_ __asm__("$2");                                                                               \
        register long a0_ __asm__("$4") = (long)(first);                                                               \
        register long a1_ __asm__("$5") = (long)(second);                                                              \
        register long a2_ __asm__("$6") = (long)(third);                                                               \
        register long a3_ __asm__("$7");                                                                               \
        __asm__ __volatile__(".set push\n\t.set noreorder\n\tli $2, %2\n\tsyscall\n\t.set pop"                         \
                             : "=&r"(v0_), "=r"(a3_)                                                                   \
                             : "i"(number), "r"(a0_), "r"(a1_), "r"(a2_)                                               \
                             : "$1", "$3", "$8", "$9", "$10", "$11", "$12", "$13", "$14", "$15", "$24", "$25", "hi",   \
                               "lo", "memory");                                                                        \
        (result) = a3_ != 0 ? -v0_ : v0_;                                                                              \
    } while (0)

static void Exit(int status)
{
    long r;
    SYSTEM_CALL(NR_EXIT_GROUP, status, 0, 0, r);
    SYSTEM_CALL(NR_EXIT, status, 0, 0, r); /* a kernel without exit_group */
    (void)r;
    for (;;) {}
}

int Sys_OpenRead(const char* path)
{
    long r;
    SYSTEM_CALL(NR_OPEN, path, 0 /* O_RDONLY */, 0, r);
    return r < 0 ? -1 : (int)r;
}

long Sys_Read(int fd, void* buffer, size_t n)
{
    long r;
    do {
        SYSTEM_CALL(NR_READ, fd, buffer, n, r);
    } while (r == -ERROR_INTERRUPTED);
    return r < 0 ? -1 : r;
}

void Sys_Close(int fd)
{
    long r;
    SYSTEM_CALL(NR_CLOSE, fd, 0, 0, r);
    (void)r;
}

void Sys_RunAndWait(const char* path, char* const argv[])
{
    long pid, r;
    int status = 0;

    SYSTEM_CALL(NR_FORK, 0, 0, 0, pid);
    if (pid == 0) {
        SYSTEM_CALL(NR_EXECVE, path, argv, gEnvironment, r);
        (void)r;
        Exit(127);
    }
    if (pid < 0) return;
    do {
        SYSTEM_CALL(NR_WAITPID, pid, &status, 0, r);
    } while (r == -ERROR_INTERRUPTED);
}

/* The kernel's initial stack: argc, the argument pointers and a zero,
   then the environment pointers and a zero. */
void Sys_Begin(long* stack)
{
    long argc = stack[0];
    gEnvironment = (char**)(stack + 1 + argc + 1);
    Exit(main());
}

void* memcpy(void* destination, const void* source, size_t n)
{
    unsigned char* d = (unsigned char*)destination;
    const unsigned char* s = (const unsigned char*)source;
    while (n-- > 0) *d++ = *s++;
    return destination;
}

void* memset(void* destination, int value, size_t n)
{
    unsigned char* d = (unsigned char*)destination;
    while (n-- > 0) *d++ = (unsigned char)value;
    return destination;
}
