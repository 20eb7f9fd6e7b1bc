/* Stands in, inside Wine's processes, for the modem lines of a cable, which a pseudo-terminal
 * lacks. Wine 10 reads them (TIOCMGET) while it waits for serial events, and cancels every wait
 * when it cannot: the program would then never hear of a received byte. For a pseudo-terminal
 * whose driver refuses the modem-line calls, this answers them as a cable with CTS, DSR and DCD
 * on would, and remembers what the program sets. Every other call, and every other error (a
 * hung-up terminal's EIO above all), passes through untouched: the program under test is not
 * helped, only the missing cable is. Loaded with LD_PRELOAD by scripts/windows-check.sh;
 * Wine's ntdll calls ioctl through the dynamic symbol, so wrapping it is enough.
 *
 * Wine's server, a session leader with no terminal, opens the devices behind COM ports; without
 * O_NOCTTY the first pseudo-terminal it opens becomes its controlling terminal, and the device's
 * hang-up then sends the server SIGHUP, which makes it dump its objects into the program's
 * output and can end the program with status 0 before it reports the loss. No Windows PC has
 * a controlling terminal, so every open here gets O_NOCTTY, which changes nothing but a
 * terminal's. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

static int lines = TIOCM_CTS | TIOCM_DSR | TIOCM_CAR | TIOCM_DTR | TIOCM_RTS;

/* Unix 98 pseudo-terminal slaves have the majors 136 to 143. */
static int isPseudoTerminal(int fd) {
  struct stat status;
  return fstat(fd, &status) == 0 && S_ISCHR(status.st_mode) && major(status.st_rdev) >= 136 &&
         major(status.st_rdev) <= 143;
}

int ioctl(int fd, unsigned long request, ...) {
  static int (*real)(int, unsigned long, ...);
  if (!real)
    real = (int (*)(int, unsigned long, ...))dlsym(RTLD_NEXT, "ioctl");
  va_list arguments;
  va_start(arguments, request);
  void *argument = va_arg(arguments, void *);
  va_end(arguments);

  const int result = real(fd, request, argument);
  const int error = errno;
  const int modemLineCall = request == TIOCMGET || request == TIOCMSET || request == TIOCMBIS ||
                            request == TIOCMBIC;
  if (result == 0 || !modemLineCall || (error != ENOTTY && error != EINVAL) ||
      !isPseudoTerminal(fd)) {
    errno = error;
    return result;
  }
  int *value = argument;
  if (request == TIOCMGET)
    *value = lines;
  else if (request == TIOCMSET)
    lines = *value;
  else if (request == TIOCMBIS)
    lines |= *value;
  else
    lines &= ~*value;
  return 0;
}

int open(const char *path, int flags, ...) {
  static int (*real)(const char *, int, ...);
  if (!real)
    real = (int (*)(const char *, int, ...))dlsym(RTLD_NEXT, "open");
  va_list arguments;
  va_start(arguments, flags);
  const mode_t mode = (flags & (O_CREAT | O_TMPFILE)) ? va_arg(arguments, mode_t) : 0;
  va_end(arguments);
  return real(path, flags | O_NOCTTY, mode);
}
