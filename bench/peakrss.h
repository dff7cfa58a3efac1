#ifndef PEAKRSS_H
#define PEAKRSS_H

#include <QtGlobal>

// Peak resident set of a running process, in MiB; 0 where the system does
// not tell (Linux's /proc does).
double peakRssMiB(qint64 pid);

#endif
