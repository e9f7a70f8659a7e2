#include "faultinjector.h"

FaultInjector::FaultInjector(const QVector<FaultRule> &rules, quint32 seed)
    : generator(seed)
{
    for (const FaultRule &rule : rules)
        states.append(RuleState{rule});
}

bool FaultInjector::Matches(const FaultRule &rule, quint8 command, quint8 argument,
                            qint64 address)
{
    return (rule.command < 0 || rule.command == command)
        && (rule.argument < 0 || rule.argument == argument)
        && (rule.address < 0 || rule.address == address);
}

// The generator's raw output is used directly rather than through a
// standard distribution, whose results differ between library vendors.
double FaultInjector::Chance()
{
    return double(generator()) / 4294967296.0;
}

int FaultInjector::Draw(int bound)
{
    return bound > 0 ? int(generator() % quint32(bound)) : 0;
}

bool FaultInjector::Hits(RuleState &state)
{
    const FaultRule &rule = state.rule;
    const int n = ++state.matched;
    if (rule.frame > 0)
        return n >= rule.frame && (rule.count < 0 || n < rule.frame + rule.count);
    if (state.burstLeft != 0) {
        if (state.burstLeft > 0)
            --state.burstLeft;
        return true;
    }
    if (rule.probability <= 0.0 || Chance() >= rule.probability)
        return false;
    state.burstLeft = rule.count < 0 ? -1 : rule.count - 1;
    return true;
}

QVector<FaultKind> FaultInjector::Strike(quint8 command, quint8 argument, qint64 address,
                                         int *replayMs, int *laterFrames)
{
    QVector<FaultKind> kinds;
    for (RuleState &state : states) {
        if (!Matches(state.rule, command, argument, address) || !Hits(state))
            continue;
        kinds.append(state.rule.kind);
        if ((state.rule.kind == FaultKind::Replay || state.rule.kind == FaultKind::Again) && replayMs)
            *replayMs = state.rule.replayMs;
        if (state.rule.kind == FaultKind::Again && laterFrames)
            *laterFrames = state.rule.laterFrames;
    }
    return kinds;
}
