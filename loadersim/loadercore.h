#ifndef LOADERCORE_H
#define LOADERCORE_H

#include "faultinjector.h"
#include "flashmodel.h"
#include "simconfig.h"

#include <QByteArray>
#include <QString>
#include <QVector>
#include <functional>

// What the loader puts on the line in answer to one request. Timing is
// left to the transport: the core only says how long to wait first and
// how to cut the characters up.
struct SimReply {
    QVector<QByteArray> pieces;     // written in turn; empty: no reply at all
    int delayMs = 0;                // processing time before the first character
    int gapMs = 0;                  // pause between pieces
    bool closeLine = false;         // close the line after the pieces are out
    // A loader stuck repeating itself: after the pieces, the whole line
    // again and again, replayGapMs of idle line before each copy, until
    // replayForMs after the answer was due (-1: for ever). It takes no
    // other request meanwhile.
    bool replay = false;
    // A reply sent twice: the whole line once more, againAfterMs after the
    // answer has gone out; -1: no copy.
    int againAfterMs = -1;
    int replayForMs = -1;
    int replayGapMs = 0;

    QByteArray Bytes() const;
};

// The loader without any I/O: request characters in, reply characters
// out. Frames run from "#" to the carriage return; anything outside a
// frame is line noise and ignored.
class LoaderCore
{
public:
    static constexpr quint8 LeadingByte = 0x00;
    static constexpr int MaxReadLength = 251;    // a reply holds at most 255 bytes
    static constexpr char FrameEnd = '\r';  // the only character that completes a frame

    LoaderCore(const SimConfig &config, FlashModel *flash);

    QVector<SimReply> Feed(const QByteArray &bytes);
    int FramesReceived() const { return framesReceived; }
    void SetLog(std::function<void(const QString &)> log) { logger = std::move(log); }
    // Logs whether the application's first word would make the loader start it.
    void LogFirstWord() const;

    static QByteArray EncodeReply(quint8 status, const QByteArray &data);

private:
    struct Outcome {
        bool answer = true;             // false: the loader stays silent
        quint8 status = StatusOk;
        QByteArray data;
        int delayMs = 0;
        QString note;
    };

    void EndFrame(QVector<SimReply> *replies);
    SimReply HandleFrame(const QByteArray &frame);
    Outcome Refuse(quint8 status, const QString &note) const;
    Outcome Execute(quint8 command, quint8 argument, const QByteArray &data,
                    const QVector<FaultKind> &faults);
    Outcome Parameters(const QByteArray &data) const;
    Outcome Erase(const QByteArray &data);
    Outcome Write(const QByteArray &data, bool wornCell);
    Outcome Read(const QByteArray &data) const;
    SimReply Shape(const Outcome &outcome, const QVector<FaultKind> &faults, int replayMs, int laterFrames);
    QByteArray DueCopies();
    QByteArray Garbage();
    void Log(const QString &line) const;

    SimConfig config;
    FlashModel *flash;
    FaultInjector injector;
    QByteArray pending;
    bool inFrame = false;
    int framesReceived = 0;
    struct HeldCopy {
        QByteArray line;
        int framesLeft;
    };
    QVector<HeldCopy> heldCopies;
    std::function<void(const QString &)> logger;
};

#endif
