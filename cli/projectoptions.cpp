#include "projectoptions.h"

#include "options.h"

#include <functional>

namespace {

QString Address(quint32 value)
{
    return QStringLiteral("0x%1").arg(value, 8, 16, QLatin1Char('0'));
}

using Same = std::function<bool(const QString &)>;

Same Number(quint32 expected)
{
    return [expected](const QString &text) {
        quint32 value = 0;
        return ParseNumber(text, &value) && value == expected;
    };
}

Same Text(const QString &expected)
{
    return [expected](const QString &text) { return text == expected; };
}

} // namespace

QStringList ProjectArguments(const QCommandLineParser &parser, const Project &project, QString *error)
{
    QStringList added;
    const auto refuse = [&](const QString &option, const QString &value) {
        if (error->isEmpty())
            *error = QStringLiteral("--%1%2: the project %3 sets %4").arg(option, parser.value(option).isEmpty()
                     ? QString() : QLatin1Char(' ') + parser.value(option), project.file, value);
    };
    const auto take = [&](const QString &option, const QString &value, const Same &same) {
        if (!parser.isSet(option))
            added << QLatin1String("--") + option << value;
        else if (!same(parser.value(option)))
            refuse(option, value);
    };
    const auto flag = [&](const QString &option, bool on, const QString &off) {
        if (on && !parser.isSet(option))
            added << QLatin1String("--") + option;
        else if (!on && parser.isSet(option))
            refuse(option, off);
    };
    const Geometry &geometry = project.geometry;
    take(QStringLiteral("start"), Address(geometry.start), Number(geometry.start));
    take(QStringLiteral("end"), Address(geometry.end), Number(geometry.end));
    take(QStringLiteral("page-size"), QString::number(geometry.pageSize), Number(geometry.pageSize));
    take(QStringLiteral("block-size"), QString::number(project.blockSize), Number(quint32(project.blockSize)));
    flag(QStringLiteral("skip-unchanged"), project.skipUnchanged, QStringLiteral("every page to be written"));
    flag(QStringLiteral("in-order"), !project.firstBlockLast, QStringLiteral("the first block to go in last"));
    if (parser.isSet(QStringLiteral("expect-sha256"))
        && parser.value(QStringLiteral("expect-sha256")).toLower().toLatin1() != project.sha256)
        refuse(QStringLiteral("expect-sha256"), QString::fromLatin1(project.sha256));
    if (!project.store.isEmpty())
        take(QStringLiteral("db"), project.store, Text(project.store));
    if (!project.station.isEmpty())
        take(QStringLiteral("station"), project.station, Text(project.station));
    if (!project.serial)
        return added;
    const ProjectSerial &serial = *project.serial;
    take(QStringLiteral("serial-at"), Address(serial.address), Number(serial.address));
    const QString format = SerialFormatName(serial.format);
    take(QStringLiteral("serial-format"), format, [&format](const QString &text) {
        SerialFormat given;
        return ParseSerialFormat(text, &given) && SerialFormatName(given) == format;
    });
    take(QStringLiteral("serial-pool"), serial.pool, Text(serial.pool));
    for (const auto &[option, number] : {std::pair(QStringLiteral("serial-first"), serial.first),
                                         std::pair(QStringLiteral("serial-last"), serial.last)}) {
        if (number)
            take(option, QString::number(*number), [number = *number](const QString &text) {
                bool ok = false;
                return text.toLongLong(&ok) == number && ok;
            });
    }
    const QString onFail = serial.voidOnFail ? QStringLiteral("void") : QStringLiteral("reuse");
    take(QStringLiteral("serial-on-fail"), onFail, Text(onFail));
    return added;
}
