#ifndef SIMCONFIG_H
#define SIMCONFIG_H

#include <QString>
#include <QVector>
#include <QtGlobal>

// The misbehaviours the simulated loader can put on the line.
enum class FaultKind {
    DropReply,          // carry the request out, send no reply
    CorruptCrc,         // send the reply with a wrong CRC
    BadStatus,          // refuse: reply with a status other than 0x1F (CRC right)
    LateReply,          // send the reply lateDelayMs late, past the tool's time-out
    GarbageBeforeStart, // put a few stray characters in front of the "^"
    SplitReply,         // send the reply in several writes with gaps between them
    WornCell,           // on a write, store one wrong byte and still acknowledge
    Vanish,             // after this frame, close the line without replying
    Replay,             // answer, then send that reply again every replayGapMs, taking
                        // no other request until the replay stops
    Again               // answer, and send that reply once more ms= after it, while
                        // answering what comes next in turn
};

// One fault. Counting is per rule and only over frames that pass its
// filters and arrive intact (right CRC), so "the 3rd write to 0x08003000"
// can be said exactly.
struct FaultRule {
    FaultKind kind = FaultKind::DropReply;
    int frame = 0;              // 1-based matching frame it hits first; 0: by chance
    int count = 1;              // matching frames hit from there on (-1: all of them);
                                // by chance, the length of each burst
    double probability = 0.0;   // chance per matching frame when frame == 0
    int command = -1;           // only this command byte (-1: any)
    int argument = -1;          // only this argument byte (-1: any)
    qint64 address = -1;        // only requests for this flash address (-1: any)
    int replayMs = -1;          // Replay: how long the replay goes on after the answer (-1: for ever);
                                // Again: how long after the answer the copy follows (-1: at once)
    int laterFrames = 0;        // Again: the copy goes out just ahead of the reply to the
                                // request this many frames later instead (0: by time)
};

struct SimConfig {
    quint32 flashBase = 0x08000000;
    quint32 flashSize = 0x10000;
    quint32 pageSize = 1024;
    quint32 loaderSize = 0x3000;    // the loader's own pages at the bottom, never erased
    int baud = 0;                   // 0: answer at once; else pace the line (8N1)
    int deviceBaud = 9600;          // line rate set on a real serial device
    int eraseDelayMs = 0;           // per page erased
    int writeDelayMs = 0;           // per block written
    int lateDelayMs = 600;          // how late a LateReply comes
    int splitGapMs = 20;            // pause between the pieces of a SplitReply
    int replayGapMs = 40;           // idle line between the copies of a Replay
    int latencyMs = 0;              // USB-serial adapter's latency timer on replies; 0: no adapter
    int maxFrameChars = 0;          // longest request frame taken, '#' to '\r'; 0: the protocol's own
    bool errorReplies = false;      // bad CRC/hex, unknown command: error reply, not silence
    bool strictRewrite = false;     // refuse to program any byte not erased, even with its value
    quint32 seed = 1;
    bool boardSeated = true;        // false: the socket starts empty
    QVector<FaultRule> faults;
    bool verbose = false;           // log frames received and replies sent
};

QString FaultKindName(FaultKind kind);

// Parses "KIND[:frame=N][:count=N][:p=X][:cmd=0xNN][:arg=0xNN][:addr=0xNNNN][:ms=M]".
// KIND is a short name (drop, crc, status, late, garbage, split, worn,
// vanish, replay) or the enumerator name. Without frame= and p=, the first
// matching frame is hit; ms= is how long a replay lasts.
bool ParseFaultRule(const QString &text, FaultRule *rule, QString *error = nullptr);

#endif
