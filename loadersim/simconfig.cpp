#include "simconfig.h"

#include <QStringList>

namespace {

struct KindName {
    FaultKind kind;
    const char *shortName;
    const char *longName;
};

const KindName kindNames[] = {
    {FaultKind::DropReply, "drop", "DropReply"},
    {FaultKind::CorruptCrc, "crc", "CorruptCrc"},
    {FaultKind::BadStatus, "status", "BadStatus"},
    {FaultKind::LateReply, "late", "LateReply"},
    {FaultKind::GarbageBeforeStart, "garbage", "GarbageBeforeStart"},
    {FaultKind::SplitReply, "split", "SplitReply"},
    {FaultKind::WornCell, "worn", "WornCell"},
    {FaultKind::Vanish, "vanish", "Vanish"},
    {FaultKind::Replay, "replay", "Replay"},
    {FaultKind::Again, "again", "Again"},
};

bool ParseKind(const QString &text, FaultKind *kind)
{
    for (const KindName &name : kindNames) {
        if (text.compare(QLatin1String(name.shortName), Qt::CaseInsensitive) == 0
            || text.compare(QLatin1String(name.longName), Qt::CaseInsensitive) == 0) {
            *kind = name.kind;
            return true;
        }
    }
    return false;
}

bool Fail(QString *error, const QString &message)
{
    if (error)
        *error = message;
    return false;
}

// Applies one "key=value" option to the rule.
bool ParseOption(const QString &option, FaultRule *rule, QString *error)
{
    const int eq = option.indexOf(QLatin1Char('='));
    if (eq <= 0)
        return Fail(error, QStringLiteral("fault option '%1' is not key=value").arg(option));
    const QString key = option.left(eq).toLower();
    const QString value = option.mid(eq + 1);
    bool ok = false;
    if (key == QLatin1String("p")) {
        rule->probability = value.toDouble(&ok);
        ok = ok && rule->probability >= 0.0 && rule->probability <= 1.0;
    } else if (key == QLatin1String("frame")) {
        rule->frame = value.toInt(&ok, 0);
        ok = ok && rule->frame >= 1;
    } else if (key == QLatin1String("count")) {
        rule->count = value.toInt(&ok, 0);
        ok = ok && (rule->count >= 1 || rule->count == -1);
    } else if (key == QLatin1String("cmd")) {
        rule->command = value.toInt(&ok, 0);
        ok = ok && rule->command >= 0 && rule->command <= 0xFF;
    } else if (key == QLatin1String("arg")) {
        rule->argument = value.toInt(&ok, 0);
        ok = ok && rule->argument >= 0 && rule->argument <= 0xFF;
    } else if (key == QLatin1String("addr")) {
        rule->address = value.toLongLong(&ok, 0);
        ok = ok && rule->address >= 0 && rule->address <= 0xFFFFFFFFLL;
    } else if (key == QLatin1String("later")) {
        rule->laterFrames = value.toInt(&ok, 0);
        ok = ok && rule->laterFrames >= 0;
    } else if (key == QLatin1String("ms")) {
        rule->replayMs = value.toInt(&ok, 0);
        ok = ok && rule->replayMs >= 0;
    } else {
        return Fail(error, QStringLiteral("unknown fault option '%1'").arg(key));
    }
    if (!ok)
        return Fail(error, QStringLiteral("bad value in fault option '%1'").arg(option));
    return true;
}

} // namespace

QString FaultKindName(FaultKind kind)
{
    for (const KindName &name : kindNames) {
        if (name.kind == kind)
            return QLatin1String(name.longName);
    }
    return QString();
}

bool ParseFaultRule(const QString &text, FaultRule *rule, QString *error)
{
    const QStringList parts = text.split(QLatin1Char(':'));
    FaultRule parsed;
    if (!ParseKind(parts.first(), &parsed.kind))
        return Fail(error, QStringLiteral("unknown fault kind '%1'").arg(parts.first()));
    for (int i = 1; i < parts.size(); ++i) {
        if (!ParseOption(parts.at(i), &parsed, error))
            return false;
    }
    if (parsed.frame == 0 && parsed.probability == 0.0)
        parsed.frame = 1;
    *rule = parsed;
    return true;
}
