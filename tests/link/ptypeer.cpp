#include "ptypeer.h"

#include <QSocketNotifier>
#include <QTimer>

#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

PtyPeer::PtyPeer() = default;

PtyPeer::~PtyPeer()
{
    delete notifier;
    if (master >= 0)
        ::close(master);
    if (slave >= 0)
        ::close(slave);
}

// The slave stays open here as well, so the master never reads EIO while
// the port under test is closed and opened again.
bool PtyPeer::Open()
{
    char name[128] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0)
        return false;
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    slavePath = QString::fromLocal8Bit(name);
    notifier = new QSocketNotifier(master, QSocketNotifier::Read);
    QObject::connect(notifier, &QSocketNotifier::activated, [this] { TakeInput(); });
    return true;
}

void PtyPeer::Write(const QByteArray &bytes)
{
    const ssize_t written = ::write(master, bytes.constData(), size_t(bytes.size()));
    Q_ASSERT(written == bytes.size());
    Q_UNUSED(written);
}

void PtyPeer::WriteLater(int delayMs, const QByteArray &bytes)
{
    QTimer::singleShot(delayMs, Qt::PreciseTimer, [this, bytes] { Write(bytes); });
}

void PtyPeer::TakeInput()
{
    char buffer[1024];
    ssize_t count;
    while ((count = ::read(master, buffer, sizeof buffer)) > 0)
        pending.append(buffer, int(count));
    int end;
    while ((end = pending.indexOf('\r')) >= 0) {
        frames.append(pending.left(end + 1));
        pending.remove(0, end + 1);
        Answer();
    }
}

void PtyPeer::Answer()
{
    if (script.isEmpty())
        return;
    const QList<QByteArray> pieces = script.takeFirst().split('|');
    for (int i = 0; i < pieces.size(); ++i) {
        if (i == 0)
            Write(pieces.at(i));
        else
            WriteLater(i * PieceGapMs, pieces.at(i));
    }
}
