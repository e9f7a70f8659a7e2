#include "simcommandline.h"

#include <QCommandLineParser>

#include <limits>

namespace {

const char faultHelp[] =
    "Inject a fault (repeatable). RULE is KIND[:frame=N][:count=N][:p=X]"
    "[:cmd=0xNN][:arg=0xNN][:addr=0xNNNNNNNN][:ms=M]. KIND: drop (no reply), crc (wrong reply "
    "CRC), status (refuse with a bad status), late (reply after --late-delay), garbage (stray "
    "characters before the reply), split (reply in pieces with gaps), worn (a write stores one "
    "wrong byte but is acknowledged), vanish (close the line after the frame, no reply), replay "
    "(answer, then send that same reply again after every --replay-gap of idle line, for ms=M "
    "milliseconds or, without ms, for ever; requests sent meanwhile wait and are answered in "
    "order once it stops), again (answer, and send that reply once more ms=M after it has gone out, "
    "while later requests are answered in turn: the copy goes out once its time has come, ahead "
    "of any reply not yet started; with later=K instead just ahead of the reply to the Kth request "
    "after it). frame=N hits the Nth matching frame and count=N frames from there (-1: all); p=X hits "
    "each matching frame with chance X, count then being the burst length. cmd, arg and addr "
    "restrict which intact requests match and are counted (writes are cmd=0x64:arg=0x12, reads "
    "cmd=0x64:arg=0x02, erases cmd=0x21, the parameter query cmd=0xA3). Without frame and p, "
    "the first matching frame is hit. With several --link, :link=N aims the fault at the Nth "
    "device only.";

struct NumberOption {
    const char *name;
    const char *help;
    const char *valueName;
};

const NumberOption numberOptions[] = {
    {"flash-base", "Flash base address (default 0x08000000).", "addr"},
    {"flash-size", "Flash size in bytes (default 0x10000).", "bytes"},
    {"page-size", "Erase page size in bytes (default 1024).", "bytes"},
    {"loader-size", "Bytes at the flash base taken by the loader itself, never erased or "
                    "written (default 0x3000).", "bytes"},
    {"baud", "Pace the line at this rate, 10 bits a character (default 0: answer at once).", "rate"},
    {"device-baud", "Line rate set on the --device (default 9600).", "rate"},
    {"erase-delay", "Processing time per erased page in ms (default 0).", "ms"},
    {"write-delay", "Processing time per written block in ms (default 0).", "ms"},
    {"late-delay", "How late a 'late' fault reply comes, in ms (default 600).", "ms"},
    {"split-gap", "Pause between the pieces of a 'split' fault reply, in ms (default 20).", "ms"},
    {"replay-gap", "Idle line before each copy of a 'replay' fault reply, in ms (default 40).", "ms"},
    {"seed", "Seed of the fault generator (default 1).", "n"},
    {"latency", "Put a USB-serial adapter between loader and host: replies travel in packets of "
                "62 bytes, a partly filled packet reaching the host this many ms after its last "
                "byte, as with an adapter's latency timer (16 ms by default on common chips). "
                "Default 0: no adapter.", "ms"},
    {"max-frame", "Ignore request frames longer than this many characters, '#' to carriage "
                  "return included, as a loader with a small receive buffer does (default 0: "
                  "only the protocol's own limit).", "chars"},
};

// Reads a number in C notation (0x.. hexadecimal) into target.
template <typename T>
bool TakeNumber(const QCommandLineParser &parser, const QString &name, T *target, QString *error)
{
    if (!parser.isSet(name))
        return true;
    bool ok = false;
    const qlonglong value = parser.value(name).toLongLong(&ok, 0);
    if (!ok || value < 0 || quint64(value) > quint64(std::numeric_limits<T>::max())) {
        *error = QStringLiteral("--%1: bad number '%2'").arg(name, parser.value(name));
        return false;
    }
    *target = T(value);
    return true;
}

bool TakeNumbers(const QCommandLineParser &parser, SimConfig *config, QString *error)
{
    return TakeNumber(parser, QStringLiteral("flash-base"), &config->flashBase, error)
        && TakeNumber(parser, QStringLiteral("flash-size"), &config->flashSize, error)
        && TakeNumber(parser, QStringLiteral("page-size"), &config->pageSize, error)
        && TakeNumber(parser, QStringLiteral("loader-size"), &config->loaderSize, error)
        && TakeNumber(parser, QStringLiteral("baud"), &config->baud, error)
        && TakeNumber(parser, QStringLiteral("device-baud"), &config->deviceBaud, error)
        && TakeNumber(parser, QStringLiteral("erase-delay"), &config->eraseDelayMs, error)
        && TakeNumber(parser, QStringLiteral("write-delay"), &config->writeDelayMs, error)
        && TakeNumber(parser, QStringLiteral("late-delay"), &config->lateDelayMs, error)
        && TakeNumber(parser, QStringLiteral("split-gap"), &config->splitGapMs, error)
        && TakeNumber(parser, QStringLiteral("replay-gap"), &config->replayGapMs, error)
        && TakeNumber(parser, QStringLiteral("seed"), &config->seed, error)
        && TakeNumber(parser, QStringLiteral("latency"), &config->latencyMs, error)
        && TakeNumber(parser, QStringLiteral("max-frame"), &config->maxFrameChars, error);
}

void AddOptions(QCommandLineParser *parser)
{
    parser->setApplicationDescription(QStringLiteral(
        "Simulated STM32 resident loader. Opens a pseudo-terminal, prints its path and answers "
        "the loader protocol on it until interrupted (SIGINT/SIGTERM).\n"
        "SIGUSR1 pulls the board out of every device's socket: the loader stops at once, even "
        "in the middle of a reply, and what is sent to it is lost; the line stays, with its "
        "settings, unless --pull-unlinks. SIGUSR2 seats a new board in every empty socket: "
        "erased flash (or --image), the loader fresh, counted faults counting afresh. Signal only "
        "once the paths are printed; --verbose logs each board pulled and seated."));
    parser->addHelpOption();
    parser->addVersionOption();
    for (const NumberOption &option : numberOptions)
        parser->addOption({QLatin1String(option.name), QLatin1String(option.help), QLatin1String(option.valueName)});
    parser->addOptions({
        {QStringLiteral("link"), QStringLiteral("Make a symbolic link PATH to the pseudo-terminal "
                                                "(replacing an old link); removed on exit or when the "
                                                "line closes. Repeated, each link is a device of its "
                                                "own on a pseudo-terminal of its own, all with the "
                                                "same options; --dump FILE then saves FILE.1, FILE.2, ..."),
         QStringLiteral("path")},
        {QStringLiteral("device"), QStringLiteral("Serve this serial device instead of a pseudo-terminal."), QStringLiteral("path")},
        {QStringLiteral("image"), QStringLiteral("Load the flash contents from FILE (from the flash base)."), QStringLiteral("file")},
        {QStringLiteral("dump"), QStringLiteral("Save the flash contents to FILE on exit, if a board is seated, "
                                                "and those of the Nth board to FILE.bN when it is pulled "
                                                "(with several --link, FILE.1.bN, ...)."),
         QStringLiteral("file")},
        {QStringLiteral("no-board"), QStringLiteral("Start with every socket empty: nothing answers until SIGUSR2.")},
        {QStringLiteral("pull-unlinks"), QStringLiteral("A USB board: its adapter goes with it. Pulling closes the "
                                                        "pseudo-terminal under the host and removes the --link; "
                                                        "seating opens a new one and makes the link again. With "
                                                        "--no-board, the program prints the link's path, not yet there.")},
        {QStringLiteral("boot-check"), QStringLiteral("FILE is the image the tool was to write at the application "
                                                      "start. On exit (after --dump), fail with status 3 if the "
                                                      "application's first word is programmed while the flash "
                                                      "differs from FILE: a half-written application would start."),
         QStringLiteral("file")},
        {QStringLiteral("error-replies"), QStringLiteral("Answer bad CRC, bad hex and unknown commands with an error status instead of silence.")},
        {QStringLiteral("strict-rewrite"), QStringLiteral("Refuse to write over any byte that is not erased, even with the "
                                                          "value it holds, as STM32F1 flash does (default: an identical "
                                                          "re-write is accepted).")},
        {QStringLiteral("verbose"), QStringLiteral("Log every frame received and reply sent to standard error.")},
        {QStringLiteral("fault"), QLatin1String(faultHelp), QStringLiteral("rule")},
    });
}

// Takes ":link=N" off a fault's text: the rest is the fault itself.
bool TakeFaultLink(QString *text, int links, int *link, QString *error)
{
    QStringList parts = text->split(QLatin1Char(':'));
    *link = 0;
    for (int i = parts.size() - 1; i > 0; --i) {
        if (!parts.at(i).startsWith(QLatin1String("link=")))
            continue;
        bool ok = false;
        *link = parts.takeAt(i).mid(5).toInt(&ok);
        if (!ok || *link < 1 || *link > qMax(links, 1)) {
            *error = QStringLiteral("--fault %1: link= must be a device from 1 to %2").arg(*text).arg(qMax(links, 1));
            return false;
        }
    }
    *text = parts.join(QLatin1Char(':'));
    return true;
}

} // namespace

int DeviceCount(const SimOptions &options)
{
    return qMax(1, int(options.links.size()));
}

SimConfig DeviceConfig(const SimOptions &options, int index)
{
    SimConfig config = options.config;
    config.seed += quint32(index);
    for (const AimedFault &fault : options.faults) {
        if (fault.link == 0 || fault.link == index + 1)
            config.faults.append(fault.rule);
    }
    return config;
}

QString DumpPath(const SimOptions &options, int index)
{
    if (options.dump.isEmpty() || DeviceCount(options) == 1)
        return options.dump;
    return QStringLiteral("%1.%2").arg(options.dump).arg(index + 1);
}

QString BoardDumpPath(const SimOptions &options, int index, int board)
{
    const QString dump = DumpPath(options, index);
    return dump.isEmpty() ? dump : QStringLiteral("%1.b%2").arg(dump).arg(board);
}

bool ParseSimOptions(const QStringList &arguments, SimOptions *options, QString *error)
{
    QCommandLineParser parser;
    AddOptions(&parser);
    if (!parser.parse(arguments)) {
        *error = parser.errorText();
        return false;
    }
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
    if (!parser.positionalArguments().isEmpty()) {
        *error = QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first());
        return false;
    }
    SimConfig &config = options->config;
    if (!TakeNumbers(parser, &config, error))
        return false;
    config.errorReplies = parser.isSet(QStringLiteral("error-replies"));
    config.strictRewrite = parser.isSet(QStringLiteral("strict-rewrite"));
    config.verbose = parser.isSet(QStringLiteral("verbose"));
    options->links = parser.values(QStringLiteral("link"));
    for (QString text : parser.values(QStringLiteral("fault"))) {
        AimedFault fault;
        if (!TakeFaultLink(&text, options->links.size(), &fault.link, error)
            || !ParseFaultRule(text, &fault.rule, error))
            return false;
        options->faults.append(fault);
    }
    options->device = parser.value(QStringLiteral("device"));
    if (!options->device.isEmpty() && options->links.size() > 1) {
        *error = QStringLiteral("--device serves one line; it cannot go with several --link");
        return false;
    }
    config.boardSeated = !parser.isSet(QStringLiteral("no-board"));
    options->pullUnlinks = parser.isSet(QStringLiteral("pull-unlinks"));
    if (options->pullUnlinks && (options->links.isEmpty() || !options->device.isEmpty())) {
        *error = QStringLiteral("--pull-unlinks needs --link and a pseudo-terminal, not --device");
        return false;
    }
    options->image = parser.value(QStringLiteral("image"));
    options->dump = parser.value(QStringLiteral("dump"));
    options->bootCheck = parser.value(QStringLiteral("boot-check"));
    return true;
}
