#ifndef ANSWERINGPEER_H
#define ANSWERINGPEER_H

#include "devicelink.h"

#include <QByteArray>
#include <QString>

class QSocketNotifier;

// A loader on the far end of a pseudo-terminal that answers every frame
// at once: an acknowledgement for a write, the asked-for bytes for a
// read. It shares the link's thread and runs from the link's wait.
class AnsweringPeer
{
public:
    ~AnsweringPeer();

    bool Open();
    QString SlavePath() const { return slavePath; }
    void SetSilent(bool silent) { quiet = silent; }

private:
    void TakeInput();
    QByteArray AnswerTo(const QByteArray &frame) const;

    DeviceLink codec;
    int master = -1;
    int slave = -1;
    QString slavePath;
    QSocketNotifier *notifier = nullptr;
    QByteArray pending;
    bool quiet = false;
};

#endif // ANSWERINGPEER_H
