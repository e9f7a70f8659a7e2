#include "simulatedloader.h"

#include <QSocketNotifier>
#include <QTextStream>
#include <QTimer>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr qint64 NsPerMs = 1000000;
constexpr int BitsPerChar = 10;     // 8N1: start bit, 8 data bits, stop bit
constexpr qint64 Never = std::numeric_limits<qint64>::max();

bool Fail(QString *error, const QString &what)
{
    if (error)
        *error = QStringLiteral("%1: %2").arg(what, QString::fromLocal8Bit(strerror(errno)));
    return false;
}

speed_t SpeedCode(int baud)
{
    switch (baud) {
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    case 460800: return B460800;
    case 921600: return B921600;
    default: return B0;
    }
}

// Raw mode, so that no carriage return is turned into a line feed and
// nothing is echoed back into the reply stream.
bool MakeRaw(int fd, int baud, QString *error)
{
    termios tio;
    if (tcgetattr(fd, &tio) != 0)
        return Fail(error, QStringLiteral("tcgetattr"));
    cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    if (baud > 0) {
        const speed_t speed = SpeedCode(baud);
        if (speed == B0) {
            errno = EINVAL;
            return Fail(error, QStringLiteral("baud rate %1").arg(baud));
        }
        cfsetispeed(&tio, speed);
        cfsetospeed(&tio, speed);
    }
    if (tcsetattr(fd, TCSANOW, &tio) != 0)
        return Fail(error, QStringLiteral("tcsetattr"));
    return true;
}

} // namespace

SimulatedLoader::SimulatedLoader(const SimConfig &config, QObject *parent)
    : QObject(parent),
      config(config),
      flash(config.flashBase, config.flashSize, config.pageSize, config.loaderSize,
            config.strictRewrite),
      core(config, &flash),
      inputTimer(new QTimer(this)),
      outputTimer(new QTimer(this)),
      hostTimer(new QTimer(this)),
      adapter(config.latencyMs),
      seated(config.boardSeated),
      boards(config.boardSeated ? 1 : 0)
{
    for (QTimer *timer : {inputTimer, outputTimer, hostTimer}) {
        timer->setSingleShot(true);
        timer->setTimerType(Qt::PreciseTimer);
    }
    connect(inputTimer, &QTimer::timeout, this, &SimulatedLoader::FeedArrived);
    connect(outputTimer, &QTimer::timeout, this, &SimulatedLoader::PumpOutput);
    connect(hostTimer, &QTimer::timeout, this, &SimulatedLoader::SendToHost);
    ResetBoard();
    clock.start();
}

SimulatedLoader::~SimulatedLoader()
{
    Close();
}

bool SimulatedLoader::OpenPty(QString *error)
{
    int master = -1;
    int slave = -1;
    if (openpty(&master, &slave, nullptr, nullptr, nullptr) != 0)
        return Fail(error, QStringLiteral("openpty"));
    slavePath = QString::fromLocal8Bit(ttyname(slave));
    fcntl(slave, F_SETFD, FD_CLOEXEC);
    slaveFd = slave;
    if (!MakeRaw(slave, 0, error)) {
        ::close(master);
        Close();
        return false;
    }
    return StartServing(master, error);
}

bool SimulatedLoader::OpenDevice(const QString &path, QString *error)
{
    const int fd = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return Fail(error, path);
    if (!MakeRaw(fd, config.deviceBaud, error)) {
        ::close(fd);
        return false;
    }
    slavePath = path;
    return StartServing(fd, error);
}

bool SimulatedLoader::StartServing(int fd, QString *error)
{
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) {
        Fail(error, QStringLiteral("fcntl"));
        ::close(fd);
        Close();
        return false;
    }
    fcntl(fd, F_SETFD, FD_CLOEXEC);
    lineFd = fd;
    notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &SimulatedLoader::OnReadable);
    WriteLog(QStringLiteral("serving %1").arg(slavePath));
    if (config.latencyMs > 0)
        WriteLog(QStringLiteral("replies pass a USB adapter: %1-byte packets, latency %2 ms")
                     .arg(AdapterModel::PacketBytes)
                     .arg(config.latencyMs));
    core.LogFirstWord();
    return true;
}

void SimulatedLoader::Close()
{
    if (lineFd < 0 && slaveFd < 0)
        return;
    const int lost = adapter.Held();
    CloseLine();
    WriteLog(lost > 0 ? QStringLiteral("line closed, %1 bytes held in the adapter lost").arg(lost)
                      : QStringLiteral("line closed"));
    emit Closed();
}

void SimulatedLoader::CloseLine()
{
    delete notifier;
    notifier = nullptr;
    for (QTimer *timer : {inputTimer, outputTimer, hostTimer})
        timer->stop();
    incoming.clear();
    outgoing.clear();
    copies.clear();
    heldUntilNs = 0;
    txStartNs = -1;
    adapter.Clear();
    toHost.clear();
    for (int *fd : {&lineFd, &slaveFd}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
}

// What the board had taken in and not yet answered dies with it; what it
// had already put on the line is in the adapter and still reaches the host.
void SimulatedLoader::Pull()
{
    if (!seated)
        return;
    seated = false;
    inputTimer->stop();
    outputTimer->stop();
    incoming.clear();
    outgoing.clear();
    copies.clear();
    heldUntilNs = 0;
    txStartNs = -1;
    WriteLog(QStringLiteral("board %1 pulled").arg(boards));
}

void SimulatedLoader::Unplug()
{
    Pull();
    if (unplugged)
        return;
    unplugged = true;
    if (lineFd >= 0 || slaveFd >= 0)
        CloseLine();
    WriteLog(QStringLiteral("adapter unplugged"));
}

bool SimulatedLoader::Seat(const QString &image, QString *error)
{
    if (seated)
        return true;
    ++boards;
    flash = FlashModel(config.flashBase, config.flashSize, config.pageSize, config.loaderSize, config.strictRewrite);
    if (!image.isEmpty() && !flash.Load(image, error))
        return false;
    ResetBoard();
    seated = true;
    WriteLog(QStringLiteral("board %1 seated").arg(boards));
    if (unplugged) {
        if (!OpenPty(error))
            return false;
        unplugged = false;
    } else {
        core.LogFirstWord();
    }
    return true;
}

// A board's loader starts from nothing: no frame half taken, no fault
// counted yet. Its chance faults draw from a seed of its own, so that
// boards do not fail in step.
void SimulatedLoader::ResetBoard()
{
    SimConfig board = config;
    board.seed += quint32(qMax(boards - 1, 0)) * 7919u;
    core = LoaderCore(board, &flash);
    core.SetLog([this](const QString &line) { WriteLog(line); });
    rxFreeNs = 0;
    busyUntilNs = 0;
    txFreeNs = 0;
}

qint64 SimulatedLoader::CharNs() const
{
    return config.baud > 0 ? qint64(BitsPerChar) * 1000000000 / config.baud : 0;
}

// A character written to the pseudo-terminal is there at once; on a real
// line it would still be on its way, so each one is stamped with the time
// it could have finished arriving behind the ones before it.
void SimulatedLoader::OnReadable()
{
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(lineFd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN)
            break;
        if (n <= 0) {
            Close();
            return;
        }
        if (!seated)
            continue;       // sent to an empty socket
        const qint64 now = clock.nsecsElapsed();
        for (ssize_t i = 0; i < n; ++i) {
            const qint64 ready = CharNs() > 0 ? qMax(now, rxFreeNs) + CharNs() : now;
            rxFreeNs = ready;
            incoming.enqueue(Received{buffer[i], ready});
        }
    }
    FeedArrived();
}

// A replaying loader takes nothing in: what arrives meanwhile waits, as in
// its receive buffer, and is taken in order once the replay is over.
void SimulatedLoader::FeedArrived()
{
    const qint64 now = clock.nsecsElapsed();
    while (!incoming.isEmpty() && incoming.head().readyNs <= now && heldUntilNs <= now
           && lineFd >= 0) {
        const Received received = incoming.dequeue();
        for (const SimReply &reply : core.Feed(QByteArray(1, received.byte)))
            Queue(reply, received.readyNs);
    }
    if (heldUntilNs == Never)
        return;
    // Only a carriage return can complete a frame, so the next wake-up is
    // when the first one still queued has arrived, not every character.
    for (const Received &received : qAsConst(incoming)) {
        if (received.byte == LoaderCore::FrameEnd && lineFd >= 0) {
            ScheduleAt(inputTimer, qMax(received.readyNs, heldUntilNs));
            break;
        }
    }
}

// The loader handles one frame at a time: it starts on a frame once the
// frame has arrived and the one before is done, silent ones included, so
// a reply held back holds back every reply behind it.
void SimulatedLoader::Queue(const SimReply &reply, qint64 frameDoneNs)
{
    const qint64 notBefore = qMax(frameDoneNs, busyUntilNs) + qint64(reply.delayMs) * NsPerMs;
    busyUntilNs = notBefore;
    if (reply.pieces.isEmpty()) {
        if (reply.closeLine)
            outgoing.enqueue(Outgoing{QByteArray(), notBefore, 0, true});
        PumpOutput();
        return;
    }
    for (int i = 0; i < reply.pieces.size(); ++i) {
        Outgoing piece;
        piece.bytes = reply.pieces.at(i);
        piece.notBeforeNs = i == 0 ? notBefore : 0;
        piece.gapNs = i == 0 ? 0 : qint64(reply.gapMs) * NsPerMs;
        piece.closeAfter = reply.closeLine && i == reply.pieces.size() - 1;
        outgoing.enqueue(piece);
    }
    if (reply.againAfterMs >= 0 && !reply.closeLine) {
        Outgoing copy;
        copy.bytes = reply.Bytes();
        copy.notBeforeNs = notBefore + reply.Bytes().size() * CharNs() + qint64(reply.againAfterMs) * NsPerMs;
        copies.append(copy);
    }
    if (reply.replay && !reply.closeLine) {
        const qint64 end = reply.replayForMs < 0 ? Never : notBefore + qint64(reply.replayForMs) * NsPerMs;
        busyUntilNs = end;
        heldUntilNs = end;
        Outgoing copy;
        copy.bytes = reply.Bytes();
        copy.gapNs = qint64(reply.replayGapMs) * NsPerMs;
        copy.repeat = true;
        copy.repeatUntilNs = end;
        outgoing.enqueue(copy);
    }
    PumpOutput();
}

// Sends the head of the queue at the line rate: by any moment, no more
// characters have left than the line could have carried since the piece
// began. A late timer lets the backlog out at once, so the total never
// drifts behind the wire time.
void SimulatedLoader::PumpOutput()
{
    for (;;) {
        if (txStartNs < 0 && !TakeCopy())
            break;
        if (outgoing.isEmpty() || lineFd < 0)
            break;
        const Outgoing &head = outgoing.head();
        const qint64 now = clock.nsecsElapsed();
        if (txStartNs < 0) {
            const qint64 start = qMax(head.notBeforeNs, txFreeNs + head.gapNs);
            if (head.repeat && start > head.repeatUntilNs) {
                WriteLog(QStringLiteral("replay over"));
                outgoing.dequeue();
                continue;
            }
            if (start > now) {
                ScheduleAt(outputTimer, copies.isEmpty() ? start : qMin(start, copies.first().notBeforeNs));
                return;
            }
            txStartNs = start;
            txSent = 0;
        }
        const int size = head.bytes.size();
        const int due = CharNs() > 0 ? int(qMin<qint64>(size, (now - txStartNs) / CharNs())) : size;
        if (due > txSent) {
            adapter.Put(head.bytes.mid(txSent, due - txSent), now);
            txSent = due;
            if (!SendToHost())
                return;
        }
        if (txSent < size) {
            ScheduleAt(outputTimer, txStartNs + (txSent + 1) * CharNs());
            return;
        }
        txFreeNs = CharNs() > 0 ? txStartNs + size * CharNs() : now;
        if (head.repeat) {
            txStartNs = -1;
            continue;
        }
        const bool closeAfter = head.closeAfter;
        outgoing.dequeue();
        txStartNs = -1;
        if (closeAfter)
            Close();
    }
}

// A reply sent once more goes out when its time has come, ahead of any
// reply not yet started, and delays the ones behind it. False when the
// line is idle and the copy is not due yet (a wake-up is set for it).
bool SimulatedLoader::TakeCopy()
{
    if (copies.isEmpty())
        return true;
    if (copies.first().notBeforeNs <= clock.nsecsElapsed()) {
        outgoing.prepend(copies.takeFirst());
        WriteLog(QStringLiteral("tx again"));
        return true;
    }
    if (outgoing.isEmpty()) {
        ScheduleAt(outputTimer, copies.first().notBeforeNs);
        return false;
    }
    return true;
}

// Hands the host what the adapter has let go of; what the host does not
// take yet stays queued, in order. False if the line had to be closed.
bool SimulatedLoader::SendToHost()
{
    if (lineFd < 0)
        return false;
    toHost += adapter.Take(clock.nsecsElapsed());
    while (!toHost.isEmpty()) {
        const ssize_t n = ::write(lineFd, toHost.constData(), size_t(toHost.size()));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN) {
            Close();
            return false;
        }
        if (n <= 0)
            break;
        toHost.remove(0, int(n));
    }
    const qint64 next = toHost.isEmpty() ? adapter.NextDueNs() : clock.nsecsElapsed() + NsPerMs;
    if (next >= 0)
        ScheduleAt(hostTimer, next);
    return true;
}

void SimulatedLoader::ScheduleAt(QTimer *timer, qint64 dueNs)
{
    const qint64 wait = dueNs - clock.nsecsElapsed();
    timer->start(wait > 0 ? int((wait + NsPerMs - 1) / NsPerMs) : 0);
}

void SimulatedLoader::WriteLog(const QString &line)
{
    if (!config.verbose)
        return;
    const QString stamped = QStringLiteral("[%1 ms] %2")
                                .arg(clock.elapsed(), 7, 10, QLatin1Char(' '))
                                .arg(line);
    if (logStream) {
        *logStream << stamped << '\n';
        logStream->flush();
    } else {
        fprintf(stderr, "%s\n", stamped.toLocal8Bit().constData());
        fflush(stderr);
    }
}
