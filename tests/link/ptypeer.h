#ifndef PTYPEER_H
#define PTYPEER_H

#include <QList>
#include <QSocketNotifier>
#include <QTimer>

#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

// The loader's end of a pseudo-terminal (slavePath empty if none opened).
// While the link processes events it collects each frame sent and answers
// with the next scripted reply: empty is silence, '|' splits it into pieces
// written 20 ms apart. It holds the slave open too, so the master never
// reads EIO while the port under test is closed.
class PtyPeer
{
public:
    PtyPeer()
    {
        char name[128] = {};
        if (::openpty(&master, &slave, name, nullptr, nullptr) != 0)
            return;
        ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
        slavePath = QString::fromLocal8Bit(name);
        notifier = new QSocketNotifier(master, QSocketNotifier::Read);
        QObject::connect(notifier, &QSocketNotifier::activated, [this] { TakeInput(); });
    }
    ~PtyPeer()
    {
        delete notifier;
        ::close(master);
        ::close(slave);
    }
    void SetReplies(const QList<QByteArray> &replies) { script = replies; }
    const QList<QByteArray> &Frames() const { return frames; }
    void Write(const QByteArray &bytes)
    {
        if (::write(master, bytes.constData(), size_t(bytes.size())) != bytes.size())
            qFatal("PtyPeer: short write");
    }

    QString slavePath;

private:
    void TakeInput()
    {
        char buffer[1024];
        ssize_t count;
        while ((count = ::read(master, buffer, sizeof buffer)) > 0)
            pending.append(buffer, int(count));
        for (int end; (end = pending.indexOf('\r')) >= 0; pending.remove(0, end + 1)) {
            frames.append(pending.left(end + 1));
            const QList<QByteArray> pieces = script.isEmpty() ? QList<QByteArray>() : script.takeFirst().split('|');
            Write(pieces.value(0));
            for (int i = 1; i < pieces.size(); ++i)
                QTimer::singleShot(i * 20, Qt::PreciseTimer, [this, piece = pieces.at(i)] { Write(piece); });
        }
    }

    int master = -1, slave = -1;
    QSocketNotifier *notifier = nullptr;
    QByteArray pending;
    QList<QByteArray> frames, script;
};

#endif // PTYPEER_H
