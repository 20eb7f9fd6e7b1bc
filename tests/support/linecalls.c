#define _GNU_SOURCE
#include "linecalls.h"

#include <dlfcn.h>
#include <fcntl.h>
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
}

ssize_t write(int fd, const void *bytes, size_t count) {
  const ssize_t written = realWrite(fd, bytes, count);
  if (written > 0 && isWatched(fd)) {
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
  pthread_mutex_unlock(&mutex);
  const int result = real(fd);
  note("drained");
  return result;
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
  const char *name = request == TCSETS    ? "TCSETS"
                     : request == TCSETSW ? "TCSETSW"
                     : request == TCSETSF ? "TCSETSF"
                     : request == TCFLSH  ? "TCFLSH"
                                          : NULL;
  if (name && isWatched(fd))
    note(name);
  return real(fd, request, argument);
}

int close(int fd) {
  static int (*real)(int);
  REAL(real, "close");
  if (isWatched(fd))
    note("close");
  return real(fd);
}
