#ifndef SESSION_H
#define SESSION_H

#include "boardjob.h"
#include "devicelink.h"
#include "imageformat.h"
#include "jobrecord.h"
#include "jobsetup.h"
#include "options.h"
#include "recordstore.h"
#include "report.h"
#include "seriallifecycle.h"

#include <QByteArray>
#include <QSerialPort>
#include <QTextStream>

class ProgressObserver;
class StoreAccess;

// One job on one port: the port, its link and the trace stream, which
// must outlive every command sent. Built, run and destroyed on the thread
// that serves the port, so that the link's waits process that thread's
// events only.
class Session
{
public:
    // store, when given, hands out the serial numbers and keeps a record
    // of the job; it belongs to the thread that runs the session.
    Session(const CliOptions &options, const QString &portName, const ImageSource &source,
            ProgressObserver &progress, StoreAccess *store = nullptr);

    DeviceReport Run();

private:
    int Step();
    int Stopped();
    int TakeSerial();
    QString SerialNotes() const;
    void Record();
    int AskParams(quint32 *start, quint32 *end, quint32 *pageSize);
    int Info();
    int WriteOrVerify();
    int DryRun(ProgrammingJob &job);
    QString WriteSummary(const QString &seconds) const;
    int Read();
    int Refuse(int status, const QString &stage, const QString &text);
    int Finish(const JobOutcome &outcome);

    const CliOptions &options;
    const ImageSource &source;
    ProgressObserver &progress;
    QSerialPort port;
    DeviceLink link;
    QTextStream traceStream;
    Geometry geometry;
    FirmwareImage image;
    DeviceReport report;
    StoreAccess *store;
    BoardJob board;                 // the board's number and record, as the window keeps them too
};

#endif // SESSION_H
