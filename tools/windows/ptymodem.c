/* ptymodem: gives pseudo-terminals the modem lines of a serial port, for
   Windows serial programs run under Wine against a simulated device.

   Wine's WaitCommEvent reads the modem lines (TIOCMGET) when it starts and
   then every millisecond in a thread of its own; a pseudo-terminal refuses
   those ioctls (ENOTTY), so the wait ends at once and nothing is ever read.
   This shim answers them for pseudo-terminal slaves only:

   - TIOCMGET: the DTR and RTS last set through this shim, with CTS, DSR and
     DCD on, as a device that is plugged in and powered shows them. Once the
     other side has gone (the simulator ended), the kernel hangs the slave
     up and answers every ioctl with EIO, not ENOTTY; that reaches Wine
     untouched and ends its wait with an error, so that the program sees
     the line hang up as it would see a USB adapter pulled out.
   - TIOCMSET, TIOCMBIS, TIOCMBIC: kept per pseudo-terminal, so that
     EscapeCommFunction(SETDTR) and the like succeed and read back.

   Every other ioctl, and these on anything that is not a pseudo-terminal
   slave, go to the system unchanged.

   Wine's wait thread sleeps 1 ms between two looks at the line (a select()
   with no descriptors), and each look costs a handful of system calls and
   a round trip to wineserver: about 800 a second for every open port, idle
   or not. A thread that has just read the modem lines and the input count
   of a pseudo-terminal, as that loop does, gets that one sleep replaced by
   a poll() of the terminal for up to PTYMODEM_NAP_MS milliseconds (20 by
   default, 0 for Wine's own sleep): input or a hangup ends it at once, and
   a changed event mask (SetCommMask, CloseHandle) is still seen within
   that time.

   Build: gcc -shared -fPIC -O2 -Wall -Wextra ptymodem.c -o ptymodem.so -ldl
   Use:   LD_PRELOAD=/path/ptymodem.so wine program.exe */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <poll.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdlib.h>
#include <sys/select.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>

/* Unix98 pseudo-terminal slaves (/dev/pts/N) have majors 136 to 143. */
#define PTS_MAJOR_FIRST 136
#define PTS_MAJOR_LAST 143

/* Lines a present, powered device drives towards the host. */
#define DEVICE_LINES (TIOCM_CTS | TIOCM_DSR | TIOCM_CD)
/* Lines the host drives; a port opens with both raised, as Wine expects. */
#define HOST_LINES (TIOCM_DTR | TIOCM_RTS)

/* A few pseudo-terminals at a time are plenty: one per simulated device. */
#define MAX_TERMINALS 32

struct terminal {
    dev_t device;
    int host_lines;
};

static struct terminal terminals[MAX_TERMINALS];
static int terminal_count;
static pthread_mutex_t terminals_lock = PTHREAD_MUTEX_INITIALIZER;

/* The terminal this thread has looked at as Wine's wait loop does: modem
   lines first (armed), then the input count (ready to nap); -1 if none. */
static __thread int nap_fd = -1;
static __thread int nap_ready;

typedef int (*ioctl_function)(int, unsigned long, ...);
typedef int (*select_function)(int, fd_set *, fd_set *, fd_set *, struct timeval *);

static ioctl_function real_ioctl(void)
{
    static ioctl_function real;
    if (!real)
        real = (ioctl_function)dlsym(RTLD_NEXT, "ioctl");
    return real;
}

static int is_pty_slave(int fd, dev_t *device)
{
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode))
        return 0;
    if (major(st.st_rdev) < PTS_MAJOR_FIRST || major(st.st_rdev) > PTS_MAJOR_LAST)
        return 0;
    *device = st.st_rdev;
    return 1;
}

/* The host lines of a terminal, its entry made on first use. Keyed by the
   device, not the descriptor: Wine opens a port more than once. A full
   table (more terminals than ever used at once) reuses the oldest entry. */
static struct terminal *terminal_of(dev_t device)
{
    for (int i = 0; i < terminal_count; ++i)
        if (terminals[i].device == device)
            return &terminals[i];
    struct terminal *t;
    if (terminal_count < MAX_TERMINALS) {
        t = &terminals[terminal_count++];
    } else {
        for (int i = 1; i < MAX_TERMINALS; ++i)
            terminals[i - 1] = terminals[i];
        t = &terminals[MAX_TERMINALS - 1];
    }
    t->device = device;
    t->host_lines = HOST_LINES;
    return t;
}

static int answer_modem_ioctl(int fd, unsigned long request, int *lines)
{
    dev_t device;
    if (!is_pty_slave(fd, &device)) {
        errno = ENOTTY;
        return -1;
    }
    pthread_mutex_lock(&terminals_lock);
    struct terminal *t = terminal_of(device);
    switch (request) {
    case TIOCMGET:
        *lines = (t->host_lines & HOST_LINES) | DEVICE_LINES;
        break;
    case TIOCMSET:
        t->host_lines = *lines & HOST_LINES;
        break;
    case TIOCMBIS:
        t->host_lines |= *lines & HOST_LINES;
        break;
    case TIOCMBIC:
        t->host_lines &= ~(*lines & HOST_LINES);
        break;
    }
    pthread_mutex_unlock(&terminals_lock);
    return 0;
}

int ioctl(int fd, unsigned long request, ...)
{
    va_list ap;
    va_start(ap, request);
    void *arg = va_arg(ap, void *);
    va_end(ap);

    int saved_errno = errno;
    int r = real_ioctl()(fd, request, arg);
    if (request == TIOCINQ && fd == nap_fd)
        nap_ready = 1;
    if (r == -1 && errno == ENOTTY && arg) {
        switch (request) {
        case TIOCMGET:
        case TIOCMSET:
        case TIOCMBIS:
        case TIOCMBIC:
            if (answer_modem_ioctl(fd, request, (int *)arg) == 0) {
                if (request == TIOCMGET) {
                    nap_fd = fd;
                    nap_ready = 0;
                }
                errno = saved_errno;
                return 0;
            }
            break;
        }
    }
    return r;
}

static int nap_ms(void)
{
    static int ms = -1;
    if (ms < 0) {
        const char *text = getenv("PTYMODEM_NAP_MS");
        ms = text ? atoi(text) : 20;
        if (ms < 0)
            ms = 0;
    }
    return ms;
}

/* Only a bare sleep of at most a millisecond, right after this thread has
   looked at a terminal's lines and input count, is taken over; the look is
   used up, so that each nap needs a fresh one. */
int select(int nfds, fd_set *readfds, fd_set *writefds, fd_set *exceptfds, struct timeval *timeout)
{
    static select_function real;
    if (!real)
        real = (select_function)dlsym(RTLD_NEXT, "select");

    if (nfds == 0 && !readfds && !writefds && !exceptfds && timeout && timeout->tv_sec == 0
        && timeout->tv_usec <= 1000 && nap_fd >= 0 && nap_ready && nap_ms() > 0) {
        struct pollfd p = { .fd = nap_fd, .events = POLLIN };
        nap_fd = -1;
        nap_ready = 0;
        int saved_errno = errno;
        if (poll(&p, 1, nap_ms()) >= 0 || errno == EINTR) {
            errno = saved_errno;
            return 0;
        }
    }
    return real(nfds, readfds, writefds, exceptfds, timeout);
}
