#include "support/process.h"

#include <QDir>
#include <QFile>
#include <sys/resource.h>

qint64 cpuMs() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000 +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000;
}

qint64 residentKb() {
  QFile status(QStringLiteral("/proc/self/status"));
  if (!status.open(QIODevice::ReadOnly))
    return -1;
  for (const QByteArray &line : status.readAll().split('\n'))
    if (line.startsWith("VmRSS:"))
      return line.mid(6).trimmed().split(' ').value(0).toLongLong();
  return -1;
}

int openFileDescriptors() {
  return int(QDir(QStringLiteral("/proc/self/fd"))
                 .entryList(QDir::NoDotAndDotDot | QDir::System | QDir::Files)
                 .size());
}
