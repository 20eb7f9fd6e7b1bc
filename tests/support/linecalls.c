#define _GNU_SOURCE
#include "linecalls.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

static pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t released = PTHREAD_COND_INITIALIZER;
static pthread_cond_t noted = PTHREAD_COND_INITIALIZER;
static dev_t watched;
static int holdDrains;
static int logFile = -1;
static char *log;
static size_t logSize;
static long bytesRead;
// The paced line: when the last byte written will have left, and what the UART's FIFO holds of it.
static long microsPerByte;
static long long lineEndsAt;
enum { fifoBytes = 16, pollOutBelow = 256 };

// The C library's own function of that name; POSIX's way of turning dlsym's answer into one.
#define REAL(function, name)                                                                       \
  do {                                                                                             \
    if (!function)                                                                                 \
      *(void **)(&function) = dlsym(RTLD_NEXT, name);                                              \
  } while (0)

static ssize_t realWrite(int fd, const void *bytes, size_t count) {
  static ssize_t (*real)(int, const void *, size_t);
  REAL(real, "write");
  return real(fd, bytes, count);
}

static int isWatched(int fd) {
  struct stat status;
  return watched != 0 && fstat(fd, &status) == 0 && S_ISCHR(status.st_mode) &&
         status.st_rdev == watched;
}

static void note(const char *line) {
  pthread_mutex_lock(&mutex);
  const size_t length = strlen(line);
  char *grown = realloc(log, logSize + length + 2);
  if (grown) {
    log = grown;
    memcpy(log + logSize, line, length);
    log[logSize + length] = '\n';
    log[logSize + length + 1] = '\0';
    logSize += length + 1;
    if (logFile >= 0)
      realWrite(logFile, log + logSize - length - 1, length + 1);
  }
  pthread_cond_broadcast(&noted);
  pthread_mutex_unlock(&mutex);
}

void lineCallsWatch(const char *path) {
  struct stat status;
  pthread_mutex_lock(&mutex);
  watched = stat(path, &status) == 0 ? status.st_rdev : 0;
  free(log);
  log = NULL;
  logSize = 0;
  bytesRead = 0;
  pthread_mutex_unlock(&mutex);
}

void lineCallsHoldDrains(int hold) {
  pthread_mutex_lock(&mutex);
  holdDrains = hold;
  pthread_cond_broadcast(&released);
  pthread_mutex_unlock(&mutex);
}

void lineCallsPace(long micros) {
  pthread_mutex_lock(&mutex);
  microsPerByte = micros;
  lineEndsAt = 0;
  pthread_mutex_unlock(&mutex);
}

static long long nowMicros(void) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * 1000000LL + now.tv_nsec / 1000;
}

// Bytes of the paced line not yet sent; called with the mutex held.
static long unsentBytes(void) {
  const long long left = lineEndsAt - nowMicros();
  return left > 0 ? (long)((left + microsPerByte - 1) / microsPerByte) : 0;
}

char *lineCallsLog(void) {
  pthread_mutex_lock(&mutex);
  char *copy = strdup(log ? log : "");
  pthread_mutex_unlock(&mutex);
  return copy;
}

static int logHas(const char *line) {
  const size_t length = strlen(line);
  for (const char *at = log; at && *at; at = strchr(at, '\n') + 1)
    if (strncmp(at, line, length) == 0 && at[length] == '\n')
      return 1;
  return 0;
}

static struct timespec after(int timeoutMs) {
  struct timespec until;
  clock_gettime(CLOCK_REALTIME, &until);
  until.tv_sec += timeoutMs / 1000;
  until.tv_nsec += (long)(timeoutMs % 1000) * 1000000;
  if (until.tv_nsec >= 1000000000) {
    until.tv_sec += 1;
    until.tv_nsec -= 1000000000;
  }
  return until;
}

int lineCallsAwait(const char *line, int timeoutMs) {
  const struct timespec until = after(timeoutMs);
  pthread_mutex_lock(&mutex);
  int found;
  while (!(found = logHas(line)) && pthread_cond_timedwait(&noted, &mutex, &until) == 0) {
  }
  pthread_mutex_unlock(&mutex);
  return found;
}

int lineCallsAwaitRead(long bytes, int timeoutMs) {
  const struct timespec until = after(timeoutMs);
  pthread_mutex_lock(&mutex);
  while (bytesRead < bytes && pthread_cond_timedwait(&noted, &mutex, &until) == 0) {
  }
  const int done = bytesRead >= bytes;
  pthread_mutex_unlock(&mutex);
  return done;
}

__attribute__((constructor)) static void fromEnvironment(void) {
  const char *device = getenv("QELNOR_LINE_CALLS_DEVICE");
  if (device)
    lineCallsWatch(device);
  const char *file = getenv("QELNOR_LINE_CALLS_LOG");
  if (file)
    logFile = open(file, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  const char *hold = getenv("QELNOR_LINE_CALLS_HOLD_DRAINS");
  holdDrains = hold && strcmp(hold, "1") == 0;
  const char *pace = getenv("QELNOR_LINE_CALLS_PACE");
  microsPerByte = pace ? atol(pace) : 0;
}

ssize_t write(int fd, const void *bytes, size_t count) {
  const ssize_t written = realWrite(fd, bytes, count);
  if (written > 0 && isWatched(fd)) {
    pthread_mutex_lock(&mutex);
    if (microsPerByte > 0) {
      const long long now = nowMicros();
      lineEndsAt = (lineEndsAt > now ? lineEndsAt : now) + written * microsPerByte;
    }
    pthread_mutex_unlock(&mutex);
    char line[32];
    snprintf(line, sizeof line, "write %zd", written);
    note(line);
  }
  return written;
}

ssize_t read(int fd, void *bytes, size_t count) {
  static ssize_t (*real)(int, void *, size_t);
  REAL(real, "read");
  const ssize_t got = real(fd, bytes, count);
  if (got > 0 && isWatched(fd)) {
    pthread_mutex_lock(&mutex);
    bytesRead += got;
    pthread_mutex_unlock(&mutex);
    char line[32];
    snprintf(line, sizeof line, "read %zd", got);
    note(line);
  }
  return got;
}

int tcdrain(int fd) {
  static int (*real)(int);
  REAL(real, "tcdrain");
  if (!isWatched(fd))
    return real(fd);
  note("drain");
  pthread_mutex_lock(&mutex);
  while (holdDrains)
    pthread_cond_wait(&released, &mutex);
  const long long lineMicros = microsPerByte > 0 ? lineEndsAt - nowMicros() : 0;
  pthread_mutex_unlock(&mutex);
  if (lineMicros > 0) {
    const struct timespec lineTime = {lineMicros / 1000000, (lineMicros % 1000000) * 1000};
    nanosleep(&lineTime, NULL);
  }
  const int result = real(fd);
  note("drained");
  return result;
}

// A paced line takes more only when fewer than 256 bytes wait, as a terminal's driver does.
int poll(struct pollfd *fds, nfds_t count, int timeout) {
  static int (*real)(struct pollfd *, nfds_t, int);
  REAL(real, "poll");
  const int ready = real(fds, count, timeout);
  if (ready <= 0 || microsPerByte == 0)
    return ready;
  int stillReady = ready;
  for (nfds_t i = 0; i < count; ++i) {
    if (!(fds[i].revents & POLLOUT) || !isWatched(fds[i].fd))
      continue;
    pthread_mutex_lock(&mutex);
    const int full = unsentBytes() >= pollOutBelow;
    pthread_mutex_unlock(&mutex);
    if (full) {
      fds[i].revents &= ~POLLOUT;
      stillReady -= fds[i].revents == 0;
    }
  }
  return stillReady;
}

// A flush of a paced line's output leaves what the FIFO has taken.
int tcflush(int fd, int queue) {
  static int (*real)(int, int);
  REAL(real, "tcflush");
  if (isWatched(fd)) {
    note("tcflush");
    pthread_mutex_lock(&mutex);
    const long unsent = unsentBytes();
    if (microsPerByte > 0 && (queue == TCOFLUSH || queue == TCIOFLUSH))
      lineEndsAt = nowMicros() + (unsent < fifoBytes ? unsent : fifoBytes) * microsPerByte;
    pthread_mutex_unlock(&mutex);
  }
  return real(fd, queue);
}

int tcsetattr(int fd, int when, const struct termios *settings) {
  static int (*real)(int, int, const struct termios *);
  REAL(real, "tcsetattr");
  if (isWatched(fd))
    note("tcsetattr");
  return real(fd, when, settings);
}

int ioctl(int fd, unsigned long request, ...) {
  static int (*real)(int, unsigned long, void *);
  REAL(real, "ioctl");
  va_list arguments;
  va_start(arguments, request);
  void *argument = va_arg(arguments, void *);
  va_end(arguments);
  // The device stands for a UART, which describes its line; a pseudo-terminal would not.
  if (request == TIOCGSERIAL && isWatched(fd)) {
    memset(argument, 0, sizeof(struct serial_struct));
    return 0;
  }
  // A paced line's driver holds what has not been sent, but for what the FIFO has taken.
  if (request == TIOCOUTQ && microsPerByte > 0 && isWatched(fd)) {
    pthread_mutex_lock(&mutex);
    const long unsent = unsentBytes();
    *(int *)argument = unsent > fifoBytes ? (int)(unsent - fifoBytes) : 0;
    pthread_mutex_unlock(&mutex);
    return 0;
  }
  // Settings put straight through the driver are settings all the same.
  if ((request == TCSETS || request == TCSETSW || request == TCSETSF) && isWatched(fd))
    note("tcsetattr");
  return real(fd, request, argument);
}

int close(int fd) {
  static int (*real)(int);
  REAL(real, "close");
  if (isWatched(fd))
    note("close");
  return real(fd);
}
