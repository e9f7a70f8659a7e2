#ifndef PTYPEER_H
#define PTYPEER_H

#include <QByteArray>
#include <QList>
#include <QString>

class QSocketNotifier;

// The far end of a pseudo-terminal, standing in for the loader. It runs in
// the test's own thread: its notifier fires while the link processes
// events, collects the frames the link sends and answers each with the
// next scripted reply. An empty reply is silence; '|' splits a reply into
// pieces written PieceGapMs apart, so that the link reads them separately.
class PtyPeer
{
public:
    static constexpr int PieceGapMs = 20;

    PtyPeer();
    ~PtyPeer();

    bool Open();
    QString SlavePath() const { return slavePath; }
    void SetReplies(const QList<QByteArray> &replies) { script = replies; }
    void Write(const QByteArray &bytes);
    void WriteLater(int delayMs, const QByteArray &bytes);
    const QList<QByteArray> &Frames() const { return frames; }

private:
    void TakeInput();
    void Answer();

    int master = -1;
    int slave = -1;
    QString slavePath;
    QSocketNotifier *notifier = nullptr;
    QByteArray pending;
    QList<QByteArray> frames;
    QList<QByteArray> script;
};

#endif // PTYPEER_H
