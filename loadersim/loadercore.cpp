#include "loadercore.h"

#include "bootcheck.h"
#include "simcrc.h"

#include <QStringList>

namespace {

constexpr char RequestStart = '#';
constexpr char ReplyStart = '^';
constexpr char LineEnd = LoaderCore::FrameEnd;
constexpr int MaxFrameChars = 1 + 2 * (2 + 255 + 2);

constexpr quint8 CmdParameters = 0xA3;
constexpr quint8 ArgParameters = 0x01;
constexpr quint8 CmdErase = 0x21;
constexpr quint8 CmdBlock = 0x64;
constexpr quint8 ArgWrite = 0x12;
constexpr quint8 ArgRead = 0x02;

// Upper-case only, as the tool writes them; anything else spoils the frame.
int Nibble(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool DecodeHex(const QByteArray &text, QByteArray *bytes)
{
    if (text.size() % 2 != 0)
        return false;
    bytes->clear();
    for (int i = 0; i < text.size(); i += 2) {
        const int hi = Nibble(text.at(i));
        const int lo = Nibble(text.at(i + 1));
        if (hi < 0 || lo < 0)
            return false;
        bytes->append(char(hi << 4 | lo));
    }
    return true;
}

quint32 Le32(const QByteArray &data, int at)
{
    return quint8(data.at(at)) | quint32(quint8(data.at(at + 1))) << 8
        | quint32(quint8(data.at(at + 2))) << 16 | quint32(quint8(data.at(at + 3))) << 24;
}

quint16 Le16(const QByteArray &data, int at)
{
    return quint16(quint8(data.at(at)) | quint8(data.at(at + 1)) << 8);
}

void AppendLe(QByteArray *out, quint32 value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out->append(char(value >> (8 * i)));
}

QString Printable(const QByteArray &bytes)
{
    QString text;
    for (char c : bytes) {
        if (c == LineEnd)
            continue;
        if (c >= 0x20 && c < 0x7F)
            text += QLatin1Char(c);
        else
            text += QStringLiteral("\\x%1").arg(quint8(c), 2, 16, QLatin1Char('0'));
    }
    return text;
}

QString StatusText(quint8 status)
{
    switch (status) {
    case StatusBadCrc: return QStringLiteral("bad CRC");
    case StatusBadHex: return QStringLiteral("bad hex");
    case StatusUnknownCommand: return QStringLiteral("unknown command");
    case StatusOutOfRange: return QStringLiteral("out of range");
    case StatusNotErased: return QStringLiteral("not erased");
    case StatusBadLength: return QStringLiteral("bad length");
    case StatusInjected: return QStringLiteral("refused on purpose");
    default: return QString();
    }
}

} // namespace

QByteArray SimReply::Bytes() const
{
    QByteArray all;
    for (const QByteArray &piece : pieces)
        all += piece;
    return all;
}

LoaderCore::LoaderCore(const SimConfig &config, FlashModel *flash)
    : config(config), flash(flash), injector(config.faults, config.seed)
{
}

QByteArray LoaderCore::EncodeReply(quint8 status, const QByteArray &data)
{
    QByteArray bytes;
    bytes.append(char(LeadingByte));
    bytes.append(char(status));
    bytes += data;
    const quint16 crc = SimCrc16(bytes);
    bytes.append(char(crc >> 8));
    bytes.append(char(crc & 0xFF));
    return bytes;
}

QVector<SimReply> LoaderCore::Feed(const QByteArray &bytes)
{
    QVector<SimReply> replies;
    for (char c : bytes) {
        if (c == RequestStart) {
            pending = QByteArray(1, c);
            inFrame = true;
        } else if (!inFrame) {
            continue;
        } else if (c == LineEnd) {
            inFrame = false;
            EndFrame(&replies);
        } else if (pending.size() >= MaxFrameChars) {
            inFrame = false;
            Log(QStringLiteral("rx overlong frame dropped"));
        } else {
            pending.append(c);
        }
    }
    return replies;
}

// A frame that overran a small receive buffer is lost like line noise.
void LoaderCore::EndFrame(QVector<SimReply> *replies)
{
    const int chars = pending.size() + 1;
    if (config.maxFrameChars > 0 && chars > config.maxFrameChars) {
        Log(QStringLiteral("rx frame of %1 characters ignored (longer than --max-frame %2)")
                .arg(chars)
                .arg(config.maxFrameChars));
        return;
    }
    replies->append(HandleFrame(pending));
}

SimReply LoaderCore::HandleFrame(const QByteArray &frame)
{
    ++framesReceived;
    Log(QStringLiteral("rx %1").arg(Printable(frame)));
    QByteArray decoded;
    Outcome outcome;
    QVector<FaultKind> faults;
    int replayMs = -1;
    int laterFrames = 0;
    if (!DecodeHex(frame.mid(1), &decoded) || decoded.size() < 4) {
        outcome = Refuse(StatusBadHex, QStringLiteral("bad hex"));
    } else if (SimCrc16(decoded) != 0) {
        outcome = Refuse(StatusBadCrc, QStringLiteral("bad CRC"));
    } else {
        const QByteArray data = decoded.mid(2, decoded.size() - 4);
        const qint64 address = data.size() >= 4 ? qint64(Le32(data, 0)) : -1;
        const quint8 command = quint8(decoded.at(0));
        const quint8 argument = quint8(decoded.at(1));
        faults = injector.Strike(command, argument, address, &replayMs, &laterFrames);
        const bool wasErased = AppFirstWordErased(*flash);
        outcome = Execute(command, argument, data, faults);
        if (AppFirstWordErased(*flash) != wasErased)
            LogFirstWord();
    }
    return Shape(outcome, faults, replayMs, laterFrames);
}

// Malformed frames are silent unless error replies were asked for: the
// tool then runs out its time-out and tries again, as with a real loader.
LoaderCore::Outcome LoaderCore::Refuse(quint8 status, const QString &note) const
{
    Outcome outcome;
    outcome.answer = config.errorReplies;
    outcome.status = status;
    outcome.note = note;
    return outcome;
}

LoaderCore::Outcome LoaderCore::Execute(quint8 command, quint8 argument, const QByteArray &data,
                                        const QVector<FaultKind> &faults)
{
    if (faults.contains(FaultKind::BadStatus)) {
        Outcome outcome;
        outcome.status = StatusInjected;
        return outcome;
    }
    if (command == CmdParameters && argument == ArgParameters)
        return Parameters(data);
    if (command == CmdErase && argument == ArgWrite)
        return Erase(data);
    if (command == CmdBlock && argument == ArgWrite)
        return Write(data, faults.contains(FaultKind::WornCell));
    if (command == CmdBlock && argument == ArgRead)
        return Read(data);
    return Refuse(StatusUnknownCommand, QStringLiteral("unknown command"));
}

LoaderCore::Outcome LoaderCore::Parameters(const QByteArray &data) const
{
    Outcome outcome;
    if (!data.isEmpty()) {
        outcome.status = StatusBadLength;
        return outcome;
    }
    AppendLe(&outcome.data, flash->AppStart(), 4);
    AppendLe(&outcome.data, flash->End(), 4);
    AppendLe(&outcome.data, flash->PageSize(), 2);
    return outcome;
}

LoaderCore::Outcome LoaderCore::Erase(const QByteArray &data)
{
    Outcome outcome;
    if (data.size() != 6) {
        outcome.status = StatusBadLength;
        return outcome;
    }
    const quint16 count = Le16(data, 4);
    outcome.status = flash->Erase(Le32(data, 0), count);
    if (outcome.status == StatusOk)
        outcome.delayMs = config.eraseDelayMs * count;
    return outcome;
}

LoaderCore::Outcome LoaderCore::Write(const QByteArray &data, bool wornCell)
{
    Outcome outcome;
    if (data.size() < 6 || data.size() != 6 + Le16(data, 4)) {
        outcome.status = StatusBadLength;
        return outcome;
    }
    const quint32 address = Le32(data, 0);
    const QByteArray block = data.mid(6);
    outcome.status = flash->Write(address, block);
    if (outcome.status != StatusOk)
        return outcome;
    outcome.delayMs = config.writeDelayMs;
    if (wornCell && !block.isEmpty()) {
        flash->Poke(address, char(block.at(0) ^ 0x01));
        outcome.note = QStringLiteral("worn cell at 0x%1").arg(address, 8, 16, QLatin1Char('0'));
    }
    return outcome;
}

// A refused read answers with status and CRC only, shorter than the
// tool's minimum, so it is never mistaken for data.
LoaderCore::Outcome LoaderCore::Read(const QByteArray &data) const
{
    Outcome outcome;
    const int length = data.size() == 6 ? Le16(data, 4) : -1;
    if (length < 0 || length > MaxReadLength) {
        outcome.status = StatusBadLength;
    } else if (!flash->Contains(Le32(data, 0), quint32(length))) {
        outcome.status = StatusOutOfRange;
    } else {
        outcome.data = flash->Read(Le32(data, 0), length);
    }
    return outcome;
}

QByteArray LoaderCore::Garbage()
{
    static const char noise[] = "\x00\x11\x7F\xFF?!~ .@";
    QByteArray text;
    const int length = 1 + injector.Draw(8);
    for (int i = 0; i < length; ++i)
        text.append(noise[injector.Draw(int(sizeof noise) - 1)]);
    return text;
}

// Copies held for a later request go out just ahead of its reply, as a
// reply sent twice that the line happens to deliver right then.
QByteArray LoaderCore::DueCopies()
{
    QByteArray due;
    for (int i = 0; i < heldCopies.size();) {
        if (--heldCopies[i].framesLeft > 0) {
            ++i;
            continue;
        }
        due += heldCopies.takeAt(i).line;
        Log(QStringLiteral("tx again (held)"));
    }
    return due;
}

SimReply LoaderCore::Shape(const Outcome &outcome, const QVector<FaultKind> &faults,
                           int replayMs, int laterFrames)
{
    const QByteArray copies = DueCopies();
    QStringList notes;
    if (outcome.status != StatusOk && outcome.note.isEmpty())
        notes << StatusText(outcome.status);
    if (!outcome.note.isEmpty())
        notes << outcome.note;
    for (FaultKind kind : faults)
        notes << FaultKindName(kind);
    const QString suffix = notes.isEmpty() ? QString() : QStringLiteral("  [%1]").arg(notes.join(QStringLiteral(", ")));

    SimReply reply;
    reply.delayMs = outcome.delayMs;
    reply.closeLine = faults.contains(FaultKind::Vanish);
    if (!outcome.answer || reply.closeLine || faults.contains(FaultKind::DropReply)) {
        Log(QStringLiteral("tx (nothing)%1").arg(suffix));
        if (!copies.isEmpty() && !reply.closeLine)
            reply.pieces.append(copies);
        return reply;
    }
    QByteArray bytes = EncodeReply(outcome.status, outcome.data);
    if (faults.contains(FaultKind::CorruptCrc))
        bytes[bytes.size() - 1] = char(bytes.at(bytes.size() - 1) ^ 0x5A);
    QByteArray line = ReplyStart + bytes.toHex().toUpper() + LineEnd;
    if (faults.contains(FaultKind::GarbageBeforeStart))
        line.prepend(Garbage());
    if (faults.contains(FaultKind::LateReply))
        reply.delayMs += config.lateDelayMs;
    if (faults.contains(FaultKind::SplitReply)) {
        const int cut = qMax(1, line.size() / 3);
        for (int at = 0; at < line.size(); at += cut)
            reply.pieces.append(line.mid(at, cut));
        reply.gapMs = config.splitGapMs;
    } else {
        reply.pieces.append(line);
    }
    if (faults.contains(FaultKind::Again) && laterFrames > 0)
        heldCopies.append(HeldCopy{line, laterFrames});
    else if (faults.contains(FaultKind::Again))
        reply.againAfterMs = qMax(0, replayMs);
    // The copy and the reply it holds up come apart, as two transmissions.
    if (!copies.isEmpty()) {
        reply.pieces.prepend(copies);
        reply.gapMs = qMax(reply.gapMs, config.splitGapMs);
    }
    if (faults.contains(FaultKind::Replay)) {
        reply.replay = true;
        reply.replayForMs = replayMs;
        reply.replayGapMs = config.replayGapMs;
    }
    Log(QStringLiteral("tx %1%2").arg(Printable(line), suffix));
    return reply;
}

void LoaderCore::LogFirstWord() const
{
    Log(AppFirstWordErased(*flash)
            ? QStringLiteral("application first word erased")
            : QStringLiteral("application first word programmed: the application would start"));
}

void LoaderCore::Log(const QString &line) const
{
    if (config.verbose && logger)
        logger(line);
}
