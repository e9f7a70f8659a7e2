#include "options.h"

#include "fingerprint.h"
#include "messages.h"
#include "programmingjob.h"
#include "projectoptions.h"
#include "recordstore.h"
#include "ports.h"
#include "userfolders.h"

#include <QDir>
#include <QFileInfo>
#include <QMap>

#include <QCommandLineParser>
#include <QSysInfo>

namespace {

constexpr quint32 MaxReadLength = ProgrammingJob::MaxReadLength;
constexpr quint64 AddressSpace = quint64(1) << 32;

const char *const Usage =
    "Usage: tamrivo-cli ports\n"
    "  or:  tamrivo-cli --port PORT [--baud 9600|19200] info\n"
    "  or:  tamrivo-cli --port PORT [options] write FILE\n"
    "  or:  tamrivo-cli --port PORT [options] verify FILE\n"
    "  or:  tamrivo-cli --port PORT --project PROJECT [options] write|verify\n"
    "  or:  tamrivo-cli --port PORT [options] read FILE [--length N]\n"
    "  or:  tamrivo-cli [--db DB] report [--serial N] [--day DATE] [--station NAME]\n"
    "                   [--counts | --in-doubt | --settlements] [--csv | --json]\n"
    "  or:  tamrivo-cli [--db DB] settle --serial-pool NAME --serial N\n"
    "                   --to free|void|board --why TEXT [--by NAME]\n"
    "\n"
    "Programs the flash of a device through its resident serial loader.\n"
    "\n"
    "Options:\n"
    "  --port PORT      serial port (name such as ttyUSB0 or a path); given\n"
    "                   again, info, write and verify run on every port at\n"
    "                   the same time and end with a table of the devices;\n"
    "                   two names of one device are refused, and a device\n"
    "                   another job has open is not opened\n"
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
    "  --skip-unchanged write: read each page the image touches first and leave\n"
    "                   alone the pages that already hold what the job would\n"
    "                   leave there (the image, 0xFF in the rest of the page);\n"
    "                   that reading is their verify. When anything changes,\n"
    "                   the first block's page is rewritten too (unless\n"
    "                   --in-order), so that it can still go in last\n"
    "  --dry-run        write: connect, read the parameters, plan and print what\n"
    "                   the job would do and how long it would take at this\n"
    "                   baud rate (with --skip-unchanged, after reading the\n"
    "                   pages); no erase, no write, nothing recorded\n"
    "  --expect-sha256 HEX  write, verify: refuse any file whose SHA-256 is not\n"
    "                   HEX, before any device is touched\n"
    "  --project FILE   write, verify: the image, device, block size, order,\n"
    "                   --skip-unchanged, serial numbers, store and station\n"
    "                   from a project file (*.tamrivo); an option given\n"
    "                   with another value than the project's is refused,\n"
    "                   an image changed since the project was saved too; a\n"
    "                   device whose flash differs from the project's is\n"
    "                   refused before anything is erased (exit 2)\n"
    "  --no-vector-check  write --project: write an image whose vector table\n"
    "                   at the start address looks wrong (a stack pointer\n"
    "                   not in RAM, a reset handler even or outside the\n"
    "                   image), which is refused otherwise (exit 2)\n"
    "  --json           one JSON record per device on standard output as it\n"
    "                   finishes; all other text goes to standard error\n"
    "  --log FILE       append each device's JSON record, with time, host and\n"
    "                   version, to FILE\n"
    "  --wait           station mode: on each port wait for a device, run the\n"
    "                   command, wait until it is unplugged, and again, until\n"
    "                   Ctrl-C; then count the devices (not for read)\n"
    "  --station NAME   this station's name in the records (default: host name);\n"
    "                   names take at most 64 printable characters\n"
    "  --quiet          no progress\n"
    "  --trace          the link's trace on standard error\n"
    "  --help           this text\n"
    "  --version        the program's version\n"
    "Numbers are decimal or 0x-hex; any of --start, --end and --page-size\n"
    "not given is asked of the device. write and verify name the image by the\n"
    "SHA-256 of its file and the CRC-32 (zlib's) of the flash it fills, from\n"
    "its lowest to its highest address with gaps as 0xFF.\n"
    "\n"
    "Production (write):\n"
    "  --serial-at ADDR     patch a serial number into each board at ADDR, in a\n"
    "                       page the image programs, where the image leaves the\n"
    "                       number's bytes erased (0xFF); it is written and\n"
    "                       verified with the image and counts as used only once\n"
    "                       the whole job has verified. A board keeps the number it\n"
    "                       holds (rework) only with a checked format whose\n"
    "                       check holds; any other board gets a new number\n"
    "  --serial-format F    le32 (default), be32, or decN: N ASCII decimal digits;\n"
    "                       checked: le32c, be32c (the number, then its ones'\n"
    "                       complement) or decNc (N digits, then a Luhn digit)\n"
    "  --serial-pool NAME   the pool the numbers come from (default: default)\n"
    "  --serial-first N     the first number of a new pool (default 1)\n"
    "  --serial-last N      the last number of a new pool (default: the largest\n"
    "                       the format holds); past it a job is refused. Given\n"
    "                       for a pool made with others, either is refused\n"
    "  --serial-on-fail P   reuse (default): a failed board's number goes to the\n"
    "                       next board, unless it may be on the failed board;\n"
    "                       void: it is never given out again\n"
    "  --db DB              the record store, sqlite:FILE or\n"
    "                       postgresql://USER@HOST[:PORT]/DATABASE (the password\n"
    "                       from PGPASSWORD or ~/.pgpass); every device job is\n"
    "                       recorded. Without it, --serial-at, report and settle\n"
    "                       use an SQLite file in the user's data folder\n"
    "  --journal DIR        where each job's record waits until the store takes\n"
    "                       it (default: a journal folder beside the default\n"
    "                       store); report delivers what runs left there\n"
    "Report (from the store):\n"
    "  --serial N           one board's history (pool from --serial-pool)\n"
    "  --day YYYY-MM-DD     the jobs of one day (UTC); --station: of one station\n"
    "  --counts             jobs per result class instead of the jobs\n"
    "  --in-doubt           numbers whose job never ended, and numbers on\n"
    "                       failed boards\n"
    "  --settlements        the numbers settled by hand, who settled them and why\n"
    "  --csv                CSV (lines end in CRLF) instead of a table (--json:\n"
    "                       JSON lines)\n"
    "report only reads: a store that is not there is an error, and a read-only\n"
    "store, or one a station is writing, is read all the same.\n"
    "Settle (a held number, or one in doubt, that no job will settle):\n"
    "  --to free|void|board free: back to the pool; void: never given out again;\n"
    "                       board: the board carries it (committed)\n"
    "  --why TEXT           why, kept with the settlement (required)\n"
    "  --by NAME            who settles it (default: the user's login name)\n"
    "\n"
    "Exit status (several devices: the one they share, else 1):\n"
    "  0    done on every device\n"
    "  1    devices failed in different ways\n"
    "  2    bad usage, an image or file refused, or a device the project\n"
    "       is not for\n"
    "  3    the port cannot be opened\n"
    "  4    no answer, garbled replies after every retry, port lost, or the\n"
    "       device talking out of turn, in any pass\n"
    "  5    the device refused a request (a well-formed refusal)\n"
    "  6    verify found the flash differs from the image\n"
    "  7    a read-back came back short\n"
    "  8    the record store or the log failed\n"
    "  130  interrupted (Ctrl-C)\n";

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
    {"report", CliCommand::Report, false},
    {"settle", CliCommand::Settle, false},
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

bool TakeSerialNumber(const QCommandLineParser &parser, const QString &name, qint64 *out, QString *error)
{
    bool ok = false;
    const qint64 value = parser.value(name).toLongLong(&ok);
    if (!ok || value < 0 || parser.value(name).startsWith('+'))
        *error = QStringLiteral("--%1: '%2' is not a serial number").arg(name, parser.value(name));
    *out = value;
    return error->isEmpty();
}

// A name goes into every record, table and log line: printable characters
// only (a control character breaks the table a line of stations reads),
// and short enough for a column.
QString NameProblem(const QCommandLineParser &parser, const QString &option, int longest)
{
    const QString text = parser.value(option);
    if (!parser.isSet(option))
        return QString();
    if (text.isEmpty())
        return QStringLiteral("--%1 must not be empty").arg(option);
    const QVector<uint> characters = text.toUcs4();
    if (characters.size() > longest)
        return QStringLiteral("--%1 is %2 characters long; at most %3 are taken").arg(option).arg(characters.size()).arg(longest);
    for (const uint character : characters) {
        if (!QChar::isPrint(character))
            return QStringLiteral("--%1 holds a character that cannot be shown (U+%2); only printable characters are taken")
                .arg(option).arg(character, 4, 16, QLatin1Char('0'));
    }
    return QString();
}

// Who settles a number when --by does not say: the login name the
// environment gives, else the owner of the home folder (the user the
// tool runs as, where no login set the environment).
QString UserName()
{
    for (const char *variable : {"USER", "LOGNAME", "USERNAME"}) {
        if (!qEnvironmentVariable(variable).isEmpty())
            return qEnvironmentVariable(variable);
    }
    return QFileInfo(QDir::homePath()).owner();
}

// What settle's --to words mean in the store.
bool TakeSettleState(const QString &text, std::optional<SerialState> *state)
{
    if (text == QLatin1String("free"))
        *state = SerialState::Free;
    else if (text == QLatin1String("void"))
        *state = SerialState::Void;
    else if (text == QLatin1String("board"))
        *state = SerialState::Committed;
    return state->has_value();
}

bool TakeProduction(const QCommandLineParser &parser, CliOptions *options, QString *error)
{
    // A report covers every station and pool unless one is named (or a
    // serial number, which belongs to a pool).
    const bool report = options->command == CliCommand::Report;
    const bool settle = options->command == CliCommand::Settle;
    options->station = parser.isSet("station") || report ? parser.value("station") : QSysInfo::machineHostName();
    // A number is settled in the pool named, never in one assumed.
    if (parser.isSet("serial-pool"))
        options->serialPool = parser.value("serial-pool");
    else if ((!report && !settle) || (report && parser.isSet("serial")))
        options->serialPool = QStringLiteral("default");
    options->db = parser.value("db");
    options->journal = parser.value("journal");
    if (parser.isSet("journal") && options->journal.isEmpty()) {
        *error = QStringLiteral("--journal must not be empty");
        return false;
    }
    options->counts = parser.isSet("counts");
    options->inDoubt = parser.isSet("in-doubt");
    options->csv = parser.isSet("csv");
    options->settlements = parser.isSet("settlements");
    options->why = parser.value("why");
    options->by = parser.isSet("by") || !settle ? parser.value("by") : UserName();
    if (!TakeNumber(parser, "serial-at", &options->serialAt, error))
        return false;
    const bool serialOptions = parser.isSet("serial-format") || parser.isSet("serial-first") || parser.isSet("serial-last")
        || parser.isSet("serial-on-fail") || (parser.isSet("serial-pool") && !report && !settle);
    if (serialOptions && !options->serialAt.given)
        *error = QStringLiteral("--serial-format, --serial-first, --serial-last, --serial-on-fail and --serial-pool "
                                "need --serial-at");
    else if (parser.isSet("db") && parser.value("db").isEmpty())
        *error = QStringLiteral("--db must not be empty: leave it out for the default store");
    else if (parser.isSet("to") && !TakeSettleState(parser.value("to"), &options->settleTo))
        *error = QStringLiteral("--to must be free, void or board");
    else if (parser.isSet("serial-format") && !ParseSerialFormat(parser.value("serial-format"), &options->serialFormat))
        *error = QStringLiteral("--serial-format must be le32, be32, decN (N digits, 1 to 18), le32c, be32c or decNc "
                                "(N digits, 1 to 17, and a check digit)");
    else if (parser.isSet("serial-on-fail") && parser.value("serial-on-fail") != QLatin1String("reuse")
             && parser.value("serial-on-fail") != QLatin1String("void"))
        *error = QStringLiteral("--serial-on-fail must be reuse or void");
    for (const auto &[option, longest] : {std::pair("station", 64), std::pair("serial-pool", 64), std::pair("by", 64),
                                          std::pair("why", 200)}) {
        if (error->isEmpty())
            *error = NameProblem(parser, option, longest);
    }
    if (!error->isEmpty())
        return false;
    options->serialVoid = parser.value("serial-on-fail") == QLatin1String("void");
    options->serialFirstGiven = parser.isSet("serial-first");
    if (parser.isSet("serial-first") && !TakeSerialNumber(parser, "serial-first", &options->serialFirst, error))
        return false;
    qint64 last = 0;
    if (parser.isSet("serial-last")) {
        if (!TakeSerialNumber(parser, "serial-last", &last, error))
            return false;
        options->serialLast = last;
    }
    qint64 serial = 0;
    if (parser.isSet("serial")) {
        if (!TakeSerialNumber(parser, "serial", &serial, error))
            return false;
        options->serial = serial;
    }
    if (parser.isSet("day")) {
        const QDate day = QDate::fromString(parser.value("day"), Qt::ISODate);
        if (!day.isValid()) {
            *error = QStringLiteral("--day: '%1' is not a date such as 2026-12-07").arg(parser.value("day"));
            return false;
        }
        options->day = day;
    }
    // Serial numbers need a store to come from.
    if (options->db.isEmpty() && (options->serialAt.given || report || settle))
        options->db = QStringLiteral("sqlite:") + DefaultStore();
    return true;
}

// Two names for one device would run two jobs on it at once: a
// /dev/serial/by-id link and the ttyUSB it leads to are one device.
QString RepeatedDevice(const QStringList &ports)
{
    QMap<QString, QString> named;      // device, and the port that named it first
    for (const QString &port : ports) {
        const QString device = SerialDevice(port);
        const QString first = named.value(device);
        if (first == port)
            return QStringLiteral("--port %1 is given twice").arg(port);
        if (!first.isEmpty())
            return QStringLiteral("--port %1 and --port %2 are one device, %3").arg(first, port, device);
        named.insert(device, port);
    }
    return QString();
}

// The serial number and store options, and report's own.
QString CheckProduction(const CliOptions &options)
{
    const bool report = options.command == CliCommand::Report;
    if (options.serialAt.given && options.command != CliCommand::Write)
        return QStringLiteral("--serial-at applies to write only");
    if (!options.db.isEmpty() && options.command == CliCommand::Ports)
        return QStringLiteral("--db applies to info, write, verify, read and report");
    if (!options.journal.isEmpty() && options.db.isEmpty())
        return QStringLiteral("--journal keeps the records of a store: give --db or --serial-at");
    const bool settle = options.command == CliCommand::Settle;
    if (options.serialFirst > options.serialFormat.Largest())
        return QStringLiteral("--serial-first %1 does not fit the serial format %2")
            .arg(options.serialFirst).arg(SerialFormatName(options.serialFormat));
    if (options.serialLast && *options.serialLast > options.serialFormat.Largest())
        return QStringLiteral("--serial-last %1 does not fit the serial format %2")
            .arg(*options.serialLast).arg(SerialFormatName(options.serialFormat));
    if (options.serialLast && *options.serialLast < options.serialFirst)
        return QStringLiteral("--serial-last %1 is below the first number %2").arg(*options.serialLast).arg(options.serialFirst);
    if ((options.day || options.counts || options.inDoubt || options.csv || options.settlements) && !report)
        return QStringLiteral("--day, --counts, --in-doubt, --settlements and --csv apply to report only");
    if (options.serial && !report && !settle)
        return QStringLiteral("--serial applies to report and settle only");
    if ((options.settleTo || !options.why.isEmpty() || !options.by.isEmpty()) && !settle)
        return QStringLiteral("--to, --why and --by apply to settle only");
    if (settle && (!options.settleTo || !options.serial || options.serialPool.isEmpty() || options.why.isEmpty()))
        return QStringLiteral("settle needs --serial-pool, --serial, --to and --why");
    if (settle && options.by.isEmpty())
        return QStringLiteral("settle: who settles is not known here: give --by NAME");
    if (report && (!options.ports.isEmpty() || options.wait || !options.log.isEmpty()))
        return QStringLiteral("report reads the record store: it takes no --port, --wait or --log");
    if (settle && (!options.ports.isEmpty() || options.wait || !options.log.isEmpty() || options.json || options.csv))
        return QStringLiteral("settle changes the record store only: it takes no --port, --wait, --log or --json");
    if (options.counts && options.inDoubt)
        return QStringLiteral("--counts and --in-doubt are two different reports: give one");
    if (options.settlements && (options.counts || options.inDoubt))
        return QStringLiteral("--settlements is a report of its own: leave out --counts and --in-doubt");
    if (options.csv && options.json)
        return QStringLiteral("--csv and --json are two different layouts: give one");
    if (!options.db.isEmpty()) {
        const StoreResult<StoreAddress> address = ParseStoreAddress(options.db);
        if (!address.Ok())
            return address.error;
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
    const QString production = CheckProduction(options);
    if (!production.isEmpty())
        return production;
    if (options.command == CliCommand::Report || options.command == CliCommand::Settle)
        return QString();
    if (options.command != CliCommand::Ports && options.ports.isEmpty())
        return QStringLiteral("--port is required");
    const QString twice = RepeatedDevice(options.ports);
    if (!twice.isEmpty())
        return twice;
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
    if ((options.skipUnchanged || options.dryRun) && options.command != CliCommand::Write)
        return QStringLiteral("--skip-unchanged and --dry-run apply to write only");
    if (!options.expectSha256.isEmpty() && options.command != CliCommand::Write && options.command != CliCommand::Verify)
        return QStringLiteral("--expect-sha256 applies to write and verify only");
    // A dry run changes nothing, so it has no serial number to take and no
    // job to record, and a station would plan the same board for ever.
    if (options.dryRun && (options.serialAt.given || !options.db.isEmpty() || options.wait || !options.log.isEmpty()))
        return QStringLiteral("--dry-run changes and records nothing: leave out --serial-at, --db, --log and --wait");
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

ParseResult Parse(const QStringList &arguments, const Project *project);

// The command line completed from the project: its image unless the one
// named is that very file, and every setting it has that was not given.
ParseResult ParseProject(const QCommandLineParser &parser, const QStringList &arguments, const CommandName *command)
{
    if (command->command != CliCommand::Write && command->command != CliCommand::Verify)
        return UsageError(QStringLiteral("--project applies to write and verify only"));
    Project project;
    QString error = LoadProject(parser.value("project"), &project);
    if (!error.isEmpty())
        return UsageError(error);
    QStringList completed = arguments + ProjectArguments(parser, project, &error);
    if (!error.isEmpty())
        return UsageError(error);
    const QStringList words = parser.positionalArguments();
    const QFileInfo named(words.value(1)), image(ImagePath(project));
    if (words.size() == 2 && named.absoluteFilePath() != image.absoluteFilePath())
        return UsageError(QStringLiteral("%1 %2: the project %3 sets the image %4")
                              .arg(command->name, words.at(1), project.file, image.absoluteFilePath()));
    if (words.size() == 1)
        completed << image.absoluteFilePath();
    return Parse(completed, &project);
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

QString PoolMismatch(const CliOptions &options, const PoolMade &made)
{
    const QString why = QStringLiteral("a pool keeps the numbers it was made with: leave the option out, or name a new pool");
    if (options.serialFirstGiven && made.first && *made.first != options.serialFirst)
        return QStringLiteral("--serial-first %1: pool %2 was made with first number %3; %4")
            .arg(options.serialFirst).arg(options.serialPool).arg(*made.first).arg(why);
    if (options.serialLast && made.last && *made.last != *options.serialLast)
        return QStringLiteral("--serial-last %1: pool %2 was made with last number %3; %4")
            .arg(*options.serialLast).arg(options.serialPool).arg(*made.last).arg(why);
    if (options.serialLast && made.first && !made.last)
        return QStringLiteral("--serial-last %1: pool %2 was made with no last number; %3")
            .arg(*options.serialLast).arg(options.serialPool, why);
    return QString();
}

bool ManyDevices(const CliOptions &options)
{
    return options.ports.size() > 1 || options.wait;
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

namespace {

// project: the one the arguments were completed from, else null.
ParseResult Parse(const QStringList &arguments, const Project *project)
{
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOptions({
        {"port", "", "PORT"}, {"baud", "", "N"}, {"start", "", "ADDR"}, {"end", "", "ADDR"},
        {"page-size", "", "N"}, {"length", "", "N"}, {"block-size", "", "N"}, {"in-order", ""}, {"skip-unchanged", ""},
        {"dry-run", ""}, {"expect-sha256", "", "HEX"}, {"format", "", "F"}, {"quiet", ""}, {"trace", ""},
        {"json", ""}, {"log", "", "FILE"}, {"wait", ""}, {"station", "", "NAME"},
        {"serial-at", "", "ADDR"}, {"serial-format", "", "F"}, {"serial-pool", "", "NAME"},
        {"serial-first", "", "N"}, {"serial-last", "", "N"}, {"serial-on-fail", "", "P"}, {"db", "", "DB"},
        {"journal", "", "DIR"}, {"serial", "", "N"}, {"day", "", "DATE"}, {"counts", ""}, {"in-doubt", ""},
        {"settlements", ""}, {"csv", ""}, {"to", "", "STATE"}, {"why", "", "TEXT"}, {"by", "", "NAME"},
        {"project", "", "FILE"}, {"no-vector-check", ""}, {"help", ""}, {"version", ""},
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
    if (parser.isSet("no-vector-check") && (!parser.isSet("project") || command->command != CliCommand::Write))
        return UsageError(QStringLiteral("--no-vector-check applies to write with --project"));
    if (parser.isSet("project") && !project)
        return ParseProject(parser, arguments, command);
    if (words.size() != (command->takesFile ? 2 : 1))
        return UsageError(command->takesFile
                              ? QStringLiteral("%1 takes one FILE").arg(command->name)
                              : QStringLiteral("%1 takes no FILE").arg(command->name));

    CliOptions &options = result.options;
    options.command = command->command;
    options.file = command->takesFile ? words.at(1) : QString();
    options.ports = parser.values("port");
    options.inOrder = parser.isSet("in-order");
    options.skipUnchanged = parser.isSet("skip-unchanged");
    options.dryRun = parser.isSet("dry-run");
    if (parser.isSet("expect-sha256")) {
        if (!IsSha256Text(parser.value("expect-sha256")))
            return UsageError(QStringLiteral("--expect-sha256 must be 64 hex digits"));
        options.expectSha256 = parser.value("expect-sha256").toLower();
    }
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
    if (!TakeNumbers(parser, &options, &error) || !TakeProduction(parser, &options, &error))
        return UsageError(error);
    error = CheckCombination(options);
    if (!error.isEmpty())
        return UsageError(error);
    result.run = true;
    if (project) {
        options.project = *project;
        options.vectorCheck = !parser.isSet("no-vector-check");
    }
    return result;
}

} // namespace

ParseResult ParseArguments(const QStringList &arguments)
{
    return Parse(arguments, nullptr);
}
