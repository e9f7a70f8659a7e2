#ifndef PROCESSCLOCK_H
#define PROCESSCLOCK_H

// User and system time of the whole process, every thread of it, in
// seconds: what a job costs the machine, apart from how long it takes.
double ProcessCpuSeconds();

#endif // PROCESSCLOCK_H
