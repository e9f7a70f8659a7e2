#include "devicelink.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSerialPort>
#include <QTextStream>
#include <QTimer>

namespace {

constexpr int WriteWaitMs = 200;
constexpr int ChunkLimit = 100;
constexpr int CommandAttempts = 2;
constexpr int QueryAttempts = 3;
constexpr int AckLength = 4;
constexpr quint8 StatusDone = 0x1F;
constexpr int MaxQuietWaits = 5;

bool IsOpen(const QSerialPort *port)
{
    return port && port->isOpen();
}

bool CrcHolds(const QByteArray &reply)
{
    quint16 crc = 0xFFFF;
    for (char byte : reply)
        crc = DeviceLink::UpdateCrc16(crc, quint8(byte));
    return crc == 0;
}

// Sleeps in the event loop until some event arrives (the port's data or
// error, the caller's own events) or the deadline timer fires, so the wait
// neither spins nor oversleeps.
//
// The deadline is armed afresh for every wait. On Windows a precise timer
// that fires only posts its event, and a wait can return before that event
// is delivered; the next wait delivers it first thing and, had it kept the
// timer because it still looked active, would then sleep with no deadline
// at all, for good on a silent line.
//
// Qt Serial Port on Windows takes in characters in I/O completion routines,
// which run inside the event loop's wait without ending it. Data or an error
// from the port therefore wake the loop explicitly, as the port's notifier
// does on other systems; a wake-up that comes outside a wait only makes the
// next one return at once, and every caller loops until it has what it
// waits for.
void WaitForEvents(QSerialPort *port, QTimer &deadline, qint64 remainingMs)
{
    deadline.start(int(qMax<qint64>(remainingMs, 1)));
    QMetaObject::Connection data;
    QMetaObject::Connection error;
    if (port) {
        const auto wake = [] {
            if (QAbstractEventDispatcher *dispatcher = QAbstractEventDispatcher::instance())
                dispatcher->wakeUp();
        };
        data = QObject::connect(port, &QIODevice::readyRead, port, wake);
        error = QObject::connect(port, &QSerialPort::errorOccurred, port, wake);
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    QObject::disconnect(data);
    QObject::disconnect(error);
}

} // namespace

void DeviceLink::WriteRaw(const QByteArray &bytes)
{
    if (!IsOpen(port))
        return;
    port->waitForBytesWritten(WriteWaitMs);
    port->write(bytes);
    port->waitForBytesWritten(WriteWaitMs);
}

void DeviceLink::SendHexByte(quint8 byte)
{
    QByteArray pair;
    pair.append(format.hexAlphabet.at(byte >> 4));
    pair.append(format.hexAlphabet.at(byte & 0x0F));
    WriteRaw(pair);
}

// Data that do not fit in one frame are not sent at all: a truncated
// frame would carry a CRC the loader accepts for a request nobody made.
void DeviceLink::SendFrame(quint8 command, quint8 argument, const QByteArray &data)
{
    const QByteArray frame = EncodeFrame(command, argument, data);
    if (!frame.isEmpty())
        WriteRaw(frame);
}

bool DeviceLink::ReadPort(QByteArray &line)
{
    if (!IsOpen(port) || port->atEnd())
        return false;
    return AppendChunk(line, port->read(ChunkLimit));
}

bool DeviceLink::AppendChunk(QByteArray &line, const QByteArray &chunk)
{
    if (line.contains(format.replyStart)) {
        line.append(chunk);
        TraceLine("line+" + chunk);
    } else {
        const int start = chunk.indexOf(format.replyStart);
        if (start >= 0) {
            line = chunk.mid(start);
            TraceLine("line=" + line);
        }
    }
    if (!line.contains(format.lineEnd))
        return false;
    TraceLine(QByteArray());
    TraceLine("LineCode = " + line);
    return true;
}

bool DeviceLink::GetLine(QByteArray &line, int timeoutMs)
{
    QElapsedTimer stopwatch;
    stopwatch.start();
    TraceLine("Call GetLine");
    line.clear();
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    for (;;) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        if (stopwatch.elapsed() > timeoutMs || PortGone())
            return false;
        if (ReadPort(line))
            return true;
        // Bytes already buffered are taken by the next poll without
        // waiting; a longer reply needs several polls of ChunkLimit.
        if (!IsOpen(port) || port->bytesAvailable() == 0)
            WaitForEvents(port, deadline, timeoutMs - stopwatch.elapsed() + 1);
    }
}

int DeviceLink::ExecCommand(quint8 command, const QByteArray &data, quint8 timeoutMs,
                            quint8 argument)
{
    return Transact(Request{command, argument, data, timeoutMs, CommandAttempts, AckLength, true},
                    nullptr);
}

// The reply is handed out only with LinkOk; a refused or failed query
// leaves it as it was.
int DeviceLink::ExecQuery(const QByteArray &data, QByteArray *reply, quint8 command,
                          quint8 replyLength, quint8 timeoutMs, quint8 argument)
{
    return Transact(Request{command, argument, data, timeoutMs, QueryAttempts, replyLength, false},
                    reply);
}

DeviceLink::ReplyFit DeviceLink::CheckReply(int count, const QByteArray &decoded,
                                            int expectedLength, bool needStatus)
{
    if (count < 1 || !CrcHolds(decoded))
        return ReplyFit::Rejected;
    // A refusal carries no data, whatever the request asked for: status and
    // CRC alone, and a status other than done.
    const bool refusal = count == AckLength && quint8(decoded.at(1)) != StatusDone;
    if (refusal && (needStatus || expectedLength != AckLength))
        return ReplyFit::Refused;
    if (count != expectedLength)
        return ReplyFit::Rejected;
    if (needStatus && (count < 2 || quint8(decoded.at(1)) != StatusDone))
        return ReplyFit::Refused;
    return ReplyFit::Fits;
}

// Only a missing line earns another frame; a complete line, good or bad,
// ends the transaction. Once a frame is out the link is out of step until
// a reply fits, and stays so when the reply fits a resent frame: it may be
// the late answer to the frame before, with one more answer still on its
// way, so the line is drained before anything else goes out. No frame goes
// out before the link is back in step: a reply to a frame sent while stale
// lines may still come could be one of them.
int DeviceLink::Transact(const Request &request, QByteArray *reply)
{
    if (request.data.size() > MaxFrameBytes)
        return LinkBadReply;
    resentRefused = false;
    portWasOpen = IsOpen(port);
    QByteArray line;
    bool answered = false;
    bool firstFrame = !resending;
    for (int attempt = 0; attempt < request.attempts && !answered; ++attempt) {
        if (!inStep) {
            const int resync = Resync(request);
            if (resync != LinkOk)
                return resync;
        }
        if (PortGone())
            return LinkPortLost;
        firstFrame = firstFrame && attempt == 0;
        // A reply waiting before the request goes out answers nothing.
        if (IsOpen(port) && port->peek(ChunkLimit).contains(format.replyStart))
            Stray();
        DiscardInput();
        SendFrame(request.command, request.argument, request.data);
        Sending(RequestKey(request.command, request.argument, request.data), request.replyLength);
        ++commandFrames;
        inStep = false;
        answered = GetLine(line, AttemptMs(request));
        if (PortGone())
            return LinkPortLost;
    }
    if (!answered)
        return LinkNoReply;
    QByteArray decoded;
    const int count = DecodeLine(line, &decoded);
    const ReplyFit fit = CheckReply(count, decoded, request.replyLength, request.needStatus);
    // A whole reply of another length answers some other request: the
    // replies taken before it may have been one too early as well.
    if (fit == ReplyFit::Rejected && count >= 1 && count != request.replyLength && CrcHolds(decoded))
        Stray();
    if (fit == ReplyFit::Rejected)
        return LinkBadReply;
    // Another reply right behind this one: nobody asked for it, so some
    // reply was sent twice and this one may be the answer to the request
    // before.
    const bool tail = line.indexOf(format.replyStart, line.indexOf(format.lineEnd) + 1) >= 0;
    if (tail)
        Stray();
    inStep = firstFrame && !tail;
    if (fit == ReplyFit::Refused) {
        resentRefused = !firstFrame;
        return LinkRefused;
    }
    if (reply)
        *reply = decoded;
    return LinkOk;
}

// A reply that missed its time-out, or the answer to a resent frame, may
// still be on its way, and replies carry no sequence number: whatever
// arrives before the line has been quiet for a whole attempt's time is
// dropped: the loader may take its whole budget again before a late reply
// starts (a healthy loader answers within it, so a reply later than twice
// the budget is not waited for). The loader answers in order, so once the
// line is quiet nothing older than the next frame can follow. A line that
// will not fall quiet is probed; if that proves nothing either, the device
// is talking out of turn and the command ends. A closed port has no line
// to be out of step with: the attempt runs out its time-out.
int DeviceLink::Resync(const Request &request)
{
    if (!IsOpen(port))
        return LinkOk;
    const int guardMs = AttemptMs(request);
    int result = LinkOk;
    if (WaitQuiet(guardMs))
        proof.Settled();
    else if (PortGone())
        return LinkPortLost;
    else
        result = Probe(guardMs);
    if (result == LinkOk)
        inStep = true;
    return result;
}

// Sends the probe and hands what the line brings, line by line, to the
// proof, which decides; lines before the proof are dropped.
int DeviceLink::Probe(int guardMs)
{
    QElapsedTimer clock;
    clock.start();
    StepProof::Verdict verdict = proof.Start(guardMs, MaxQuietWaits * guardMs);
    if (verdict == StepProof::Verdict::SendProbe) {
        TraceLine("Probe");
        DiscardInput();
        SendProbe();
        proof.ProbeSent();
        verdict = StepProof::Verdict::Wait;
    }
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    QByteArray heard;
    while (verdict == StepProof::Verdict::Wait) {
        if (PortGone() || !IsOpen(port))
            return LinkPortLost;
        WaitForEvents(port, deadline, proof.WaitMs(clock.elapsed()));
        const QByteArray bytes = port->readAll();
        const qint64 now = clock.elapsed();
        if (!bytes.isEmpty()) {
            proof.Heard(now);
            heard += bytes;
        }
        for (int end; verdict == StepProof::Verdict::Wait && (end = heard.indexOf(format.lineEnd)) >= 0;
             heard.remove(0, end + 1)) {
            QByteArray decoded;
            if (DecodeLine(heard.left(end + 1), &decoded) == DecodeFailed)
                decoded.clear();
            TraceLine("Probe heard " + heard.left(end + 1));
            if (decoded != proof.KnownReply())
                Stray();
            verdict = proof.Line(decoded, now);
        }
        if (verdict == StepProof::Verdict::Wait)
            verdict = proof.Clock(now);
    }
    return verdict == StepProof::Verdict::InStep ? LinkOk : LinkOutOfTurn;
}

int DeviceLink::AttemptMs(const Request &request) const
{
    return AttemptMs(request.data.size(), request.replyLength, request.timeoutMs,
                     IsOpen(port) ? port->baudRate() : 0);
}

// The loader's time-out is its own budget to answer: the wait for a reply
// begins when the request has left the line and ends when the longest
// reply it can draw could have arrived. Counted from the write alone, a
// 64-byte write at 9600 baud would leave the loader and the adapter about
// 40 of their 208 ms. A frame carries its data as hex pairs between "#",
// command, argument, CRC and the line end; a reply likewise between "^"
// and the line end. A closed port has no line and waits the time-out.
int DeviceLink::AttemptMs(int dataBytes, int replyLength, int timeoutMs, qint32 baud)
{
    if (baud <= 0)
        return timeoutMs;
    const qint64 chars = WireChars(dataBytes, replyLength);
    return timeoutMs + int((chars * BitsPerChar * 1000 + baud - 1) / baud);
}

int DeviceLink::WireChars(int dataBytes, int replyLength)
{
    return (1 + 2 * (2 + dataBytes + 2) + 1) + (1 + 2 * replyLength + 1);
}

// True once the line has stayed quiet for quietMs. A line that keeps
// talking for several guard intervals is given up on.
bool DeviceLink::WaitQuiet(int quietMs)
{
    QElapsedTimer total;
    total.start();
    QElapsedTimer quiet;
    quiet.start();
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    // Every reply drained here went unanswered by any request: it may be
    // the late answer to a request given up on, or the one reply too many
    // that a reply sent twice leaves; only the pass can tell which reads
    // it puts in doubt.
    bool drained = IsOpen(port) && port->peek(ChunkLimit).contains(format.replyStart);
    DiscardInput();
    bool quietNow = true;
    while (quiet.elapsed() < quietMs) {
        if (PortGone() || !IsOpen(port) || total.elapsed() > MaxQuietWaits * qint64(quietMs)) {
            quietNow = false;
            break;
        }
        WaitForEvents(port, deadline, quietMs - quiet.elapsed());
        const QByteArray bytes = port->readAll();
        if (!bytes.isEmpty()) {
            drained = drained || bytes.contains(format.replyStart);
            quiet.restart();
        }
    }
    if (drained)
        Stray();
    if (!quietNow)
        return false;
    DiscardInput();
    return true;
}

// Whether any byte is waiting or comes within quietMs; what came stays
// for the caller.
bool DeviceLink::Heard(int quietMs)
{
    if (!IsOpen(port))
        return false;
    QElapsedTimer clock;
    clock.start();
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    while (port->bytesAvailable() == 0 && clock.elapsed() < quietMs && !PortGone() && IsOpen(port))
        WaitForEvents(port, deadline, quietMs - clock.elapsed());
    return IsOpen(port) && port->bytesAvailable() > 0;
}

// The adapter was unplugged or the peer closed the line: reading fails
// for good (and the port would wake the event loop without end), or the
// port was closed under the transaction.
bool DeviceLink::PortGone() const
{
    return portWasOpen && (!IsOpen(port) || IsDeadPortError(port->error()));
}

bool DeviceLink::IsDeadPortError(int error)
{
    return error == QSerialPort::ResourceError || error == QSerialPort::ReadError;
}

// Replies carry no sequence number, so a reply that came too late for an
// earlier request would otherwise pass as the answer to this one.
// clear() drops both what QSerialPort buffered and what the driver holds.
void DeviceLink::DiscardInput()
{
    if (IsOpen(port))
        port->clear(QSerialPort::Input);
}

StepProof::Verdict StepProof::Start(int guardMs, int budgetMs)
{
    guard = guardMs;
    budget = budgetMs;
    lastHeard = 0;
    return known.isEmpty() ? Verdict::OutOfTurn : Verdict::SendProbe;
}

void StepProof::Heard(qint64 atMs)
{
    lastHeard = atMs;
}

// Identical bytes, not only the length: a 10-byte read draws a 14-byte
// reply too.
StepProof::Verdict StepProof::Line(const QByteArray &decoded, qint64 atMs)
{
    lastHeard = atMs;
    if (sent == 0 || decoded != known)
        return Verdict::Wait;
    if (++matched < sent)
        return Verdict::Wait;
    Settled();
    return Verdict::InStep;
}

StepProof::Verdict StepProof::Clock(qint64 nowMs)
{
    if (nowMs - lastHeard >= guard) {
        Settled();
        return Verdict::InStep;
    }
    return nowMs >= budget ? Verdict::OutOfTurn : Verdict::Wait;
}

qint64 StepProof::WaitMs(qint64 nowMs) const
{
    return qMax<qint64>(1, qMin<qint64>(lastHeard + guard, budget) - nowMs);
}

void DeviceLink::Stray()
{
    ++strays;
}

QByteArray DeviceLink::RequestKey(quint8 command, quint8 argument, const QByteArray &data)
{
    return QByteArray(1, char(command)) + char(argument) + data;
}

// A frame sent again is the same request: its copies answer it alike,
// so it does not push another request's length out of the window.
void DeviceLink::Sending(const QByteArray &request, int replyLength)
{
    if (!recentRequests.isEmpty() && recentRequests.last().request == request)
        return;
    recentRequests.append(Sent{request, replyLength});
    if (recentRequests.size() > ReplyWindow)
        recentRequests.removeFirst();
}

void DeviceLink::TraceLine(const QByteArray &text)
{
    if (trace)
        *trace << text << Qt::endl;
}
