#ifndef DEVICELINK_H
#define DEVICELINK_H

#include <QByteArray>
#include <QVector>
#include <QtGlobal>

class QSerialPort;
class QTextStream;

// The characters that shape every frame of the loader protocol.
struct FrameFormat
{
    QByteArray hexAlphabet;     // digit for each nibble value 0..15
    char requestStart = 0;      // first character of a request frame
    char replyStart = 0;        // first character of a reply line
    char lineEnd = 0;           // last character of requests and replies
};

// Result of every link operation. Callers count only LinkOk as success.
enum LinkResult : int {
    LinkNoReply = 1,    // no complete reply line within the time-out in any attempt
    LinkOk = 2,         // a reply arrived and passed every check
    LinkBadReply = 3,   // a complete line failed a check, or the request was refused unsent
    LinkPortLost = 4,   // the port went away (adapter unplugged, peer gone): nothing more can pass
    LinkOutOfTurn = 5,  // the device kept talking out of turn: no reply could be told from a stale one
    LinkRefused = 6     // a well-formed reply whose status says the request was not carried out
};

// Flash geometry as the loader reports it.
struct FlashParams
{
    quint32 startAddr = 0;
    quint32 endAddr = 0;
    quint16 sizePage = 0;
};

// Decides when the line can be trusted again after a time-out or a
// rejected line, where the line did not fall quiet. Replies carry no
// sequence number, so the link asks the parameter query, whose reply it
// knows byte for byte from the last time it took one in step, and the
// loader answers in order: once as many identical replies have come back
// as queries went out, everything sent before them has been answered.
// Any other line is stale and dropped; a guard interval without a byte
// proves it too. Pure: the link tells it what it heard and when (in ms
// since Start), and it says what to do next.
class StepProof
{
public:
    enum class Verdict { Wait, SendProbe, InStep, OutOfTurn };

    // The decoded reply of the last parameter query taken in step; empty
    // when the device was never asked, and then no probe is possible.
    void SetKnownReply(const QByteArray &decoded) { known = decoded; }
    const QByteArray &KnownReply() const { return known; }

    // The quiet wait has given up: probe, or give up at once without a
    // known reply. The budget runs from now.
    Verdict Start(int guardMs, int budgetMs);
    void ProbeSent() { ++sent; }
    // Bytes arrived at atMs; a complete line is handed over decoded
    // (empty when it would not decode).
    void Heard(qint64 atMs);
    Verdict Line(const QByteArray &decoded, qint64 atMs);
    Verdict Clock(qint64 nowMs);
    // How long from nowMs until Clock can give another verdict.
    qint64 WaitMs(qint64 nowMs) const;
    // The line was found quiet: no probe is still owed a reply.
    void Settled() { sent = matched = 0; }

    int ProbesSent() const { return sent; }
    int RepliesMatched() const { return matched; }

private:
    QByteArray known;
    // Probes stay owed across resyncs that gave up, so that a late reply
    // to an earlier probe cannot stand in for the reply to a later one.
    int sent = 0;
    int matched = 0;
    int guard = 0;
    int budget = 0;
    qint64 lastHeard = 0;
};

// Speaks the resident loader's protocol over one serial port: ASCII-hex
// frames with CRC-16, request/reply transactions with time-outs and
// attempts, and the four loader commands. A plain class: it shows no
// dialogs and reports by result codes only.
class DeviceLink
{
public:
    static constexpr int DecodeFailed = -1;
    // A request carries at most 255 data bytes and a reply at most 255
    // decoded bytes, so a block write holds 249 bytes after its 6-byte
    // header and a block read 251 bytes between status and CRC.
    static constexpr int MaxWriteBlock = 249;
    static constexpr int MaxReadBlock = 251;
    // Request frames and reply lines carry at most this many bytes; the
    // loader counts them in one byte.
    static constexpr int MaxFrameBytes = 255;

    DeviceLink();

    void SetFrameFormat(const FrameFormat &format);
    void SetPort(QSerialPort *port);
    QSerialPort *Port() const { return port; }
    const FrameFormat &Format() const { return format; }

    // Where the reply trace goes; standard output unless changed,
    // nullptr silences it.
    void SetTrace(QTextStream *stream);

    // Frame codec
    static quint16 UpdateCrc16(quint16 crc, quint8 byte);
    bool HexPairToByte(const char *pair, quint8 *out) const;
    int DecodeLine(const QByteArray &line, QByteArray *out) const;  // count or DecodeFailed
    QByteArray EncodeFrame(quint8 command, quint8 argument, const QByteArray &data) const;

    // Transactions
    void WriteRaw(const QByteArray &bytes);
    void SendHexByte(quint8 byte);
    void SendFrame(quint8 command, quint8 argument, const QByteArray &data);
    bool ReadPort(QByteArray &line);
    // The line-gathering step of ReadPort on one chunk already read from
    // the port, kept apart so that it can be exercised without a port.
    bool AppendChunk(QByteArray &line, const QByteArray &chunk);
    bool GetLine(QByteArray &line, int timeoutMs);
    // A reply must have exactly the length its request calls for: 4 bytes
    // for an acknowledgement, replyLength for a query.
    int ExecCommand(quint8 command, const QByteArray &data, quint8 timeoutMs, quint8 argument);
    int ExecQuery(const QByteArray &data, QByteArray *reply, quint8 command,
                  quint8 replyLength, quint8 timeoutMs, quint8 argument);

    // How long one attempt waits for its reply: the loader's time-out plus
    // the wire time at baud (10 bits a character) of a request frame with
    // dataBytes of data and of a reply of replyLength decoded bytes. The
    // line must stay quiet as long before the link trusts it again.
    static int AttemptMs(int dataBytes, int replyLength, int timeoutMs, qint32 baud);
    // Characters on the line for one command and its reply, as a time
    // estimate counts them: 10 bits each at the baud rate.
    static constexpr int BitsPerChar = 10;     // 8N1: start bit, 8 data bits, stop bit
    static int WireChars(int dataBytes, int replyLength);
    static int EraseChars();
    static int WriteChars(int length);
    static int ReadChars(int length);
    static int ParamsChars();

    // Replies nobody asked for, heard since the link was made: a reply
    // waiting before a request, one right behind another, one of a length
    // no request sent lately calls for, bytes drained while waiting for
    // the line to fall quiet, a reply too many after a pass. Each may be
    // the sign of a reply sent twice, which shifts the answers around it
    // by one, so a pass that keeps read-back bytes compares this count
    // before and after each read.
    quint32 Strays() const { return strays; }

    // Replies carry neither sequence number nor address, and the link takes
    // only a reply of exactly the length its request calls for. So a copy
    // of an earlier reply can pass for the answer to a read only if that
    // read draws a reply of the same length: a read whose bytes are kept
    // asks for a length that none of the last ReplyWindow requests drew
    // (nor the parameter query, the link's probe). The length of the next
    // read of room bytes, at most maxLength, chosen so that the rest can be
    // read likewise; 0 when no such length exists.
    static constexpr int ReplyWindow = 5;
    static int DistinctReadLength(int room, int maxLength, const QVector<int> &recentReplyLengths);
    // The same for a read from address: a request sent again does not
    // count against itself, as its copies answer it alike.
    int FreshReadLength(quint32 address, int room, int maxLength) const;
    // The decoded length of the reply a read of length bytes draws.
    static int ReadReplyLength(int length);

    // Whether the last reply taken can only have answered the request it
    // was taken for: false after a time-out, a rejected line or a reply to
    // a resent frame, until the line has been found quiet again or a
    // probe has proved that nothing older is still to come.
    bool InStep() const { return inStep; }

    // A port error after which nothing more can pass: a hung-up line or a
    // removed adapter fails every read (QSerialPort reports a read or a
    // resource error, depending on the system's error number).
    static bool IsDeadPortError(int error);

    // Loader commands
    int ReadFlashParams(quint32 *startAddr, quint32 *endAddr, quint32 *sizePage);
    int ErasePage(quint32 address, quint16 count);
    int WriteBlock(const QByteArray &data, quint32 address, int length);
    int ReadBlock(QByteArray *out, quint32 address, int length);
    // Replies carry no sequence number: a reply the device sends twice,
    // with no time-out in between, shifts every later answer by one (each
    // the answer to the request before), and nothing in the replies tells.
    // The shift shows only at the end, as one reply too many. So a pass of
    // reads whose bytes are kept ends here: LinkOk when the line stays
    // quiet for the guard interval of a read of readLength bytes;
    // LinkOutOfTurn when something came (a stray, counted as such), after
    // which the link is back in step or says why not; LinkPortLost. Strays
    // heard before are the pass's to weigh, from Strays().
    int ConfirmQuiet(int readLength);
    // How long ConfirmQuiet listens on a quiet line at baud.
    static int ConfirmQuietMs(int readLength, qint32 baud);

private:
    // How a decoded reply stands against its request: the right length and
    // CRC (and for an acknowledgement the done status), a well-formed
    // refusal, or something that cannot be the answer at all.
    enum class ReplyFit { Fits, Refused, Rejected };
    static ReplyFit CheckReply(int count, const QByteArray &decoded, int expectedLength,
                               bool needStatus);

    struct Request
    {
        quint8 command;
        quint8 argument;
        QByteArray data;
        int timeoutMs;
        int attempts;
        int replyLength;
        bool needStatus;
    };

    int Transact(const Request &request, QByteArray *reply);
    template <typename Transaction> int Repeat(Transaction transaction);
    bool FlashHolds(const QByteArray &block, quint32 address);
    int AttemptMs(const Request &request) const;
    int Resync(const Request &request);
    bool WaitQuiet(int quietMs);
    bool Heard(int quietMs);
    int Probe(int guardMs);
    void SendProbe();
    bool PortGone() const;
    void DiscardInput();
    void TraceLine(const QByteArray &text);

    QSerialPort *port = nullptr;
    FrameFormat format;
    QTextStream *trace = nullptr;
    bool inStep = true;
    bool portWasOpen = false;   // the port was open when the transaction began
    bool resending = false;     // the command runs its transaction a second time
    bool resentRefused = false; // the last transaction refused a frame sent before
    int commandFrames = 0;      // frames the command in progress has sent
    quint32 strays = 0;         // every reply nobody asked for, ever
    struct Sent
    {
        QByteArray request;     // command, argument and data
        int replyLength;
    };
    QVector<Sent> recentRequests;   // the last ReplyWindow different requests
    void Sending(const QByteArray &request, int replyLength);
    // What tells one request from another: command, argument and data.
    static QByteArray RequestKey(quint8 command, quint8 argument, const QByteArray &data);
    void Stray();
    StepProof proof;
};

#endif // DEVICELINK_H
