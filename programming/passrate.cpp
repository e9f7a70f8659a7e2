#include "passrate.h"

namespace PassRate {

double PerSecond(qint64 done, qint64 elapsedNs)
{
    return elapsedNs > 0 ? double(done) * 1e9 / double(elapsedNs) : 0.0;
}

qint64 SecondsLeft(qint64 done, qint64 maximum, qint64 elapsedNs)
{
    if (done >= maximum)
        return 0;
    const double rate = PerSecond(done, elapsedNs);
    if (rate <= 0.0)
        return -1;
    return qint64(double(maximum - done) / rate + 0.5);
}

} // namespace PassRate
