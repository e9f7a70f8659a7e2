#ifndef SIMULATEDLOADER_H
#define SIMULATEDLOADER_H

#include "adaptermodel.h"
#include "flashmodel.h"
#include "loadercore.h"
#include "simconfig.h"

#include <QElapsedTimer>
#include <QObject>
#include <QQueue>
#include <QString>

class QSocketNotifier;
class QTextStream;
class QTimer;

// Serves the loader core on a line: the master side of a pseudo-terminal
// or a real serial device. Everything runs from the Qt event loop of the
// thread that owns the object, so it can share a thread with the tool,
// whose waits for replies process events.
class SimulatedLoader : public QObject
{
    Q_OBJECT

public:
    explicit SimulatedLoader(const SimConfig &config, QObject *parent = nullptr);
    ~SimulatedLoader() override;

    bool OpenPty(QString *error = nullptr);
    bool OpenDevice(const QString &path, QString *error = nullptr);
    QString SlavePath() const { return slavePath; }
    bool IsOpen() const { return lineFd >= 0; }

    FlashModel &Flash() { return flash; }
    int FramesReceived() const { return core.FramesReceived(); }
    // Where the verbose log goes; standard error unless set.
    void SetLog(QTextStream *stream) { logStream = stream; }
    // The cable pulled: close the line.
    void Close();

    // The board taken out of its socket: it stops at once, a reply half
    // sent stays half sent, and what the host sends is lost, as to a
    // socket with no board. The line stays, and with it the settings a
    // host keeping it open has made.
    void Pull();
    // A USB board: its adapter goes with it. The line closes under the
    // host (without Closed(), the socket is not done), whatever the
    // adapter held is lost, and the next Seat() brings a new line.
    void Unplug();
    // A new board: its flash erased or holding image, the loader fresh.
    bool Seat(const QString &image, QString *error = nullptr);
    bool Seated() const { return seated; }
    bool Unplugged() const { return unplugged; }
    // The boards seated so far, the one in the socket included.
    int Boards() const { return boards; }

signals:
    void Closed();

private:
    struct Received {
        char byte;
        qint64 readyNs;         // when the character has fully arrived on the line
    };
    struct Outgoing {
        QByteArray bytes;
        qint64 notBeforeNs = 0;
        qint64 gapNs = 0;       // idle line wanted before this piece
        bool closeAfter = false;
        bool repeat = false;    // sent again and again, each copy after gapNs
        qint64 repeatUntilNs = 0;   // no copy starts later than this
    };

    bool StartServing(int fd, QString *error);
    void CloseLine();
    void ResetBoard();
    void OnReadable();
    void FeedArrived();
    void Queue(const SimReply &reply, qint64 frameDoneNs);
    void PumpOutput();
    bool TakeCopy();
    bool SendToHost();
    void ScheduleAt(QTimer *timer, qint64 dueNs);
    qint64 CharNs() const;
    void WriteLog(const QString &line);

    SimConfig config;
    FlashModel flash;
    LoaderCore core;
    int lineFd = -1;
    int slaveFd = -1;           // kept open so the master never sees a hang-up
    QString slavePath;
    QSocketNotifier *notifier = nullptr;
    QTimer *inputTimer;
    QTimer *outputTimer;
    QTimer *hostTimer;
    QElapsedTimer clock;
    QQueue<Received> incoming;
    qint64 rxFreeNs = 0;        // when the simulated receive line falls idle
    qint64 busyUntilNs = 0;     // when the loader is done with the last frame it took
    qint64 heldUntilNs = 0;     // no character is taken before this: the loader is replaying
    QQueue<Outgoing> outgoing;
    QVector<Outgoing> copies;   // replies to send once more, each not before its time
    qint64 txStartNs = -1;      // start of the piece being sent; -1: none started
    int txSent = 0;
    qint64 txFreeNs = 0;        // when the simulated transmit line falls idle
    AdapterModel adapter;       // between the transmit line and the host
    QByteArray toHost;          // let go of by the adapter, not yet taken by the host
    QTextStream *logStream = nullptr;
    bool seated;
    bool unplugged = false;
    int boards;
};

#endif
