#include "answeringpeer.h"

#include <QSocketNotifier>
#include <QtEndian>

#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

AnsweringPeer::~AnsweringPeer()
{
    delete notifier;
    if (master >= 0)
        ::close(master);
    if (slave >= 0)
        ::close(slave);
}

bool AnsweringPeer::Open()
{
    char name[128] = {};
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0)
        return false;
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    slavePath = QString::fromLocal8Bit(name);
    codec.SetTrace(nullptr);
    notifier = new QSocketNotifier(master, QSocketNotifier::Read);
    QObject::connect(notifier, &QSocketNotifier::activated, [this] { TakeInput(); });
    return true;
}

void AnsweringPeer::TakeInput()
{
    char buffer[1024];
    ssize_t count;
    while ((count = ::read(master, buffer, sizeof buffer)) > 0)
        pending.append(buffer, int(count));
    int end;
    while ((end = pending.indexOf('\r')) >= 0) {
        const QByteArray answer = AnswerTo(pending.left(end + 1));
        pending.remove(0, end + 1);
        if (!quiet && !answer.isEmpty() && ::write(master, answer.constData(), size_t(answer.size())) < 0)
            return;
    }
}

// A request frame and a reply line share their layout, so the link's own
// codec reads requests and builds replies once the start character is
// swapped.
QByteArray AnsweringPeer::AnswerTo(const QByteArray &frame) const
{
    QByteArray request = frame;
    request[0] = '^';
    QByteArray bytes;
    if (codec.DecodeLine(request, &bytes) < 8)
        return QByteArray();
    QByteArray data;
    if (quint8(bytes.at(1)) == 0x02)
        data = QByteArray(qFromLittleEndian<quint16>(bytes.constData() + 6), '\x5A');
    QByteArray reply = codec.EncodeFrame(0x00, 0x1F, data);
    reply[0] = '^';
    return reply;
}
