#ifndef PASSRATE_H
#define PASSRATE_H

#include <QtGlobal>

// How fast a pass goes and how long it has left, judged from what it has
// done in the time it has taken. One reckoning for every front end, so the
// window and the command line never tell the same job two different ways.
namespace PassRate {

// Units (bytes or pages) a second so far; 0 before any time has passed.
double PerSecond(qint64 done, qint64 elapsedNs);
// Whole seconds left at that pace, rounded to the nearest: 0 once done,
// -1 while nothing is done yet and the pace is unknown.
qint64 SecondsLeft(qint64 done, qint64 maximum, qint64 elapsedNs);

} // namespace PassRate

#endif // PASSRATE_H
