#ifndef PROGRESS_H
#define PROGRESS_H

#include "programmingjob.h"

#include <QElapsedTimer>
#include <QString>

#include <cstdio>

// Shows a job's progress on standard error and passes Ctrl-C on to it.
// On a terminal one line is redrawn in place; into a log or a pipe it
// writes a plain line now and then, so logs stay short and readable.
class ProgressObserver : public JobObserver
{
public:
    enum Mode { Silent, Terminal, Plain };

    explicit ProgressObserver(Mode mode, FILE *stream = stderr);
    static Mode ModeFor(bool quiet, FILE *stream = stderr);

    void PassStarted(JobPass pass, int maximum) override;
    void Progress(int value) override;
    bool ShouldStop(JobPass pass) override;

    // Ends a line left open on the terminal, so that a message that
    // follows starts on a line of its own.
    void Finish();

    static QString PassName(JobPass pass);

private:
    void Show(bool final);
    QString Line() const;
    QString Bar() const;
    QString Rate() const;
    QString TimeLeft() const;
    double PerSecond() const;

    Mode mode;
    FILE *stream;
    JobPass pass = JobPass::Erase;
    int maximum = 0;
    int value = 0;
    bool lineOpen = false;
    QElapsedTimer passTimer;
    QElapsedTimer shownTimer;
};

#endif // PROGRESS_H
