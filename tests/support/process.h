#pragma once

#include <QtGlobal>

// What the test process uses, read from the system: for checks that catch busy loops, leaks
// and unbounded growth without timing anything by the wall clock.

// CPU time (user and system) spent so far, in milliseconds.
qint64 cpuMs();
// Resident memory now, in kilobytes.
qint64 residentKb();
// Open file descriptors now.
int openFileDescriptors();
