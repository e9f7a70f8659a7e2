#include "options.h"

#include "messages.h"
#include "programmingjob.h"

#include <QCommandLineParser>

namespace {

constexpr quint32 MaxReadLength = ProgrammingJob::MaxReadLength;
constexpr quint64 AddressSpace = quint64(1) << 32;

const char *const Usage =
    "Usage: tamrivo-cli ports\n"
    "  or:  tamrivo-cli --port PORT [--baud 9600|19200] info\n"
    "  or:  tamrivo-cli --port PORT [options] write FILE\n"
    "  or:  tamrivo-cli --port PORT [options] verify FILE\n"
    "  or:  tamrivo-cli --port PORT [options] read FILE [--length N]\n"
    "\n"
    "Programs the flash of a device through its resident serial loader.\n"
    "\n"
    "Options:\n"
    "  --port PORT      serial port (name such as ttyUSB0 or a path); given\n"
    "                   again, info, write and verify run on every port at\n"
    "                   the same time and end with a table of the devices\n"
    "  --baud N         line speed, 9600 (default) or 19200\n"
    "  --start ADDR     first flash address of the image; even\n"
    "  --end ADDR       last flash address of the range, included: an image\n"
    "                   may hold data there\n"
    "  --page-size N    bytes per flash page; even for write, which also needs\n"
    "                   the start on a page boundary\n"
    "  --length N       bytes to read (default: from start to end, the end\n"
    "                   address included: the whole application area)\n"
    "  --format F       the file's format: raw, ihex, srec or elf (default: by\n"
    "                   its name, then by its content; read writes ihex or\n"
    "                   srec for .hex or .srec names, else raw)\n"
    "  --block-size N   bytes per frame for write, verify and read: even, 64\n"
    "                   (default) to 248; larger is faster if the loader\n"
    "                   takes frames that long\n"
    "  --in-order       write from the first block up; by default the\n"
    "                   application's first block goes in last, so that an\n"
    "                   interrupted write never leaves a startable half image\n"
    "  --json           one JSON record per device on standard output as it\n"
    "                   finishes; all other text goes to standard error\n"
    "  --log FILE       append each device's JSON record, with time, host and\n"
    "                   version, to FILE\n"
    "  --wait           station mode: on each port wait for a device, run the\n"
    "                   command, wait until it is unplugged, and again, until\n"
    "                   Ctrl-C; then count the devices (not for read)\n"
    "  --quiet          no progress\n"
    "  --trace          the link's trace on standard error\n"
    "  --help           this text\n"
    "  --version        the program's version\n"
    "Numbers are decimal or 0x-hex; any of --start, --end and --page-size\n"
    "not given is asked of the device.\n"
    "\n"
    "Exit status: 0 done on every device, 1 a device failed or verify found\n"
    "a difference, 2 bad usage or unusable file, 130 interrupted.\n";

ParseResult UsageError(const QString &text)
{
    ParseResult result;
    result.status = ExitUsage;
    result.message = QStringLiteral("tamrivo-cli: %1\nTry 'tamrivo-cli --help'.\n").arg(text);
    return result;
}

struct CommandName
{
    const char *name;
    CliCommand command;
    bool takesFile;
};

const CommandName Commands[] = {
    {"ports", CliCommand::Ports, false},
    {"info", CliCommand::Info, false},
    {"write", CliCommand::Write, true},
    {"verify", CliCommand::Verify, true},
    {"read", CliCommand::Read, true},
};

const CommandName *FindCommand(const QString &name)
{
    for (const CommandName &entry : Commands) {
        if (name == QLatin1String(entry.name))
            return &entry;
    }
    return nullptr;
}

bool TakeNumber(const QCommandLineParser &parser, const QString &name, OptionalValue *out,
                QString *error)
{
    if (!parser.isSet(name))
        return true;
    out->given = ParseNumber(parser.value(name), &out->value);
    if (!out->given)
        *error = QStringLiteral("--%1: '%2' is not a number").arg(name, parser.value(name));
    return out->given;
}

bool TakeNumbers(const QCommandLineParser &parser, CliOptions *options, QString *error)
{
    return TakeNumber(parser, "start", &options->start, error)
        && TakeNumber(parser, "end", &options->end, error)
        && TakeNumber(parser, "page-size", &options->pageSize, error)
        && TakeNumber(parser, "length", &options->length, error);
}

// Two names for one device would run two jobs on it at once.
QString RepeatedPort(const QStringList &ports)
{
    QStringList seen;
    for (const QString &port : ports) {
        if (seen.contains(PortPath(port)))
            return port;
        seen.append(PortPath(port));
    }
    return QString();
}

// Checks that need more than one option at a time.
QString CheckCombination(const CliOptions &options)
{
    if (options.baud != 9600 && options.baud != 19200)
        return QStringLiteral("--baud must be 9600 or 19200");
    if (options.pageSize.given && options.pageSize.value == 0)
        return QStringLiteral("--page-size must not be 0");
    // The flash takes half-words: an odd start or page size can never be
    // programmed, so it is refused before the port is opened.
    if (options.start.given && options.start.value % 2 != 0)
        return QStringLiteral("--start %1 is odd: the flash is programmed in half-words from an even address")
            .arg(Hex(options.start.value));
    if (options.pageSize.given && options.pageSize.value % 2 != 0 && options.command == CliCommand::Write)
        return QStringLiteral("--page-size %1 is odd: the flash is programmed in half-words")
            .arg(options.pageSize.value);
    if (options.command == CliCommand::Ports && (options.json || options.wait || !options.log.isEmpty()))
        return QStringLiteral("--json, --log and --wait apply to info, write, verify and read");
    if (options.command != CliCommand::Ports && options.ports.isEmpty())
        return QStringLiteral("--port is required");
    const QString twice = RepeatedPort(options.ports);
    if (!twice.isEmpty())
        return QStringLiteral("--port %1 is given twice").arg(twice);
    // Every device would save over the backup of the one before.
    if (options.command == CliCommand::Read && (options.ports.size() > 1 || options.wait))
        return QStringLiteral("read takes one --port and no --wait: each backup needs a file of its own");
    if (options.length.given && options.command != CliCommand::Read)
        return QStringLiteral("--length applies to read only");
    const bool takesFile = options.command == CliCommand::Write || options.command == CliCommand::Verify
        || options.command == CliCommand::Read;
    if (options.format && !takesFile)
        return QStringLiteral("--format applies to write, verify and read only");
    if (options.format == ImageFormat::Elf && options.command == CliCommand::Read)
        return QStringLiteral("read cannot save ELF: use raw, ihex or srec");
    if (options.inOrder && options.command != CliCommand::Write)
        return QStringLiteral("--in-order applies to write only");
    // Even, as the flash is programmed in half-words; 248 is the most a
    // write frame (6 header bytes) and a read reply both carry.
    if (options.blockSize < 64 || options.blockSize > 248 || options.blockSize % 2 != 0)
        return QStringLiteral("--block-size must be an even number from 64 to 248");
    // A read range the command line settles on its own is refused before
    // the port is opened. With --length the start may still come from the
    // device; 0 stands in for it and is checked again once it is known.
    const bool rangeGiven = options.length.given || (options.start.given && options.end.given);
    quint32 length = 0;
    if (options.command == CliCommand::Read && rangeGiven)
        return ReadLength(options.start.value, options.end.value, options.length, &length);
    return QString();
}

} // namespace

bool ParseNumber(const QString &text, quint32 *value)
{
    bool ok = false;
    const bool hex = text.startsWith("0x", Qt::CaseInsensitive);
    const QString digits = hex ? text.mid(2) : text;
    // QString::toUInt also takes signs and spaces; a flash address with
    // either is a typing mistake.
    if (digits.isEmpty() || digits.at(0) == '+' || digits.at(0) == '-'
        || digits.at(0).isSpace())
        return false;
    *value = digits.toUInt(&ok, hex ? 16 : 10);
    return ok;
}

bool ManyDevices(const CliOptions &options)
{
    return options.ports.size() > 1 || options.wait;
}

QString PortPath(const QString &port)
{
    return port.contains(QLatin1Char('/')) ? port : QStringLiteral("/dev/") + port;
}

QString ReadLength(quint32 start, quint32 end, const OptionalValue &length, quint32 *bytes)
{
    if (length.given && length.value == 0)
        return QStringLiteral("--length 0 reads nothing");
    if (start % 2 != 0)
        return QStringLiteral("start %1 is odd: the flash is programmed in half-words from an even address")
            .arg(Hex(start));
    if (!length.given && start > end)
        return QStringLiteral("start %1 is beyond end %2: nothing to read").arg(Hex(start), Hex(end));
    // In 64 bits: the whole 4 GiB from 0 to 0xffffffff does not fit in 32.
    const quint64 count = length.given ? length.value : quint64(end) - start + 1;
    if (start + count > AddressSpace)
        return QStringLiteral("%1 bytes from start %2 run past 0xffffffff").arg(count).arg(Hex(start));
    if (count > MaxReadLength)
        return QStringLiteral("%1 bytes is more than this tool reads at once (%2)").arg(count).arg(MaxReadLength);
    *bytes = quint32(count);
    return QString();
}

ParseResult ParseArguments(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOptions({
        {"port", "", "PORT"}, {"baud", "", "N"}, {"start", "", "ADDR"}, {"end", "", "ADDR"},
        {"page-size", "", "N"}, {"length", "", "N"}, {"block-size", "", "N"}, {"in-order", ""}, {"format", "", "F"}, {"quiet", ""}, {"trace", ""},
        {"json", ""}, {"log", "", "FILE"}, {"wait", ""},
        {"help", ""}, {"version", ""},
    });
    if (!parser.parse(arguments))
        return UsageError(parser.errorText());

    ParseResult result;
    if (parser.isSet("help") || parser.isSet("version")) {
        result.message = parser.isSet("help")
            ? QString::fromLatin1(Usage)
            : QStringLiteral("tamrivo-cli %1\n").arg(TAMRIVO_VERSION);
        return result;
    }

    const QStringList words = parser.positionalArguments();
    if (words.isEmpty())
        return UsageError("no command given");
    const CommandName *command = FindCommand(words.first());
    if (!command)
        return UsageError(QStringLiteral("unknown command '%1'").arg(words.first()));
    if (words.size() != (command->takesFile ? 2 : 1))
        return UsageError(command->takesFile
                              ? QStringLiteral("%1 takes one FILE").arg(command->name)
                              : QStringLiteral("%1 takes no FILE").arg(command->name));

    CliOptions &options = result.options;
    options.command = command->command;
    options.file = command->takesFile ? words.at(1) : QString();
    options.ports = parser.values("port");
    options.inOrder = parser.isSet("in-order");
    options.quiet = parser.isSet("quiet");
    options.trace = parser.isSet("trace");
    options.json = parser.isSet("json");
    options.log = parser.value("log");
    options.wait = parser.isSet("wait");
    quint32 baud = 9600;
    if (parser.isSet("baud") && !ParseNumber(parser.value("baud"), &baud))
        return UsageError(QStringLiteral("--baud must be 9600 or 19200"));
    options.baud = qint32(baud);
    if (parser.isSet("format")) {
        ImageFormat format;
        if (!ParseFormatName(parser.value("format"), &format))
            return UsageError(QStringLiteral("--format must be raw, ihex, srec or elf"));
        options.format = format;
    }
    quint32 blockSize = 64;
    if (parser.isSet("block-size") && !ParseNumber(parser.value("block-size"), &blockSize))
        return UsageError(QStringLiteral("--block-size must be an even number from 64 to 248"));
    options.blockSize = int(qMin<quint32>(blockSize, 0x7FFFFFFF));

    QString error;
    if (!TakeNumbers(parser, &options, &error))
        return UsageError(error);
    error = CheckCombination(options);
    if (!error.isEmpty())
        return UsageError(error);
    result.run = true;
    return result;
}
