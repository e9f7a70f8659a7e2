#ifndef FAULTINJECTOR_H
#define FAULTINJECTOR_H

#include "simconfig.h"

#include <QVector>
#include <random>

// Decides, frame by frame, which fault rules strike. Each rule counts
// its own matching frames; chance draws come from one generator seeded
// from the configuration, so a run with the same seed and traffic hits
// the same frames again.
class FaultInjector
{
public:
    FaultInjector(const QVector<FaultRule> &rules, quint32 seed);

    // Called once per intact request; address is -1 for requests without one.
    // When a replay strikes, replayMs is set to how long it lasts (-1: for ever).
    QVector<FaultKind> Strike(quint8 command, quint8 argument, qint64 address,
                              int *replayMs = nullptr, int *laterFrames = nullptr);
    // A value in [0, bound) from the same generator, for the shape of a fault.
    int Draw(int bound);

private:
    struct RuleState {
        FaultRule rule;
        int matched = 0;        // matching frames seen so far
        int burstLeft = 0;      // frames still to hit after a chance hit (-1: all)
    };

    static bool Matches(const FaultRule &rule, quint8 command, quint8 argument, qint64 address);
    bool Hits(RuleState &state);
    double Chance();

    QVector<RuleState> states;
    std::mt19937 generator;
};

#endif
