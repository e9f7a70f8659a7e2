#ifndef PROGRESS_H
#define PROGRESS_H

#include "programmingjob.h"

#include <QElapsedTimer>
#include <QString>

#include <cstdio>

class ProgressBoard;

// Shows a job's progress on standard error and passes Ctrl-C on to it.
// On a terminal one line is redrawn in place; into a log or a pipe it
// writes a plain line now and then, so logs stay short and readable.
// With several devices each job keeps its own row of a board, or starts
// its plain lines with its port.
class ProgressObserver : public JobObserver
{
public:
    enum Mode { Silent, Terminal, Plain, Board };

    explicit ProgressObserver(Mode mode, FILE *stream = stderr);
    // Several devices share a terminal through a board.
    static Mode ModeFor(bool quiet, bool many = false, FILE *stream = stderr);
    void SetPrefix(const QString &text) { prefix = text; }
    void SetBoard(ProgressBoard *newBoard, int newRow) { board = newBoard; row = newRow; }

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
    QString BoardLine() const;
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
    QString prefix;
    ProgressBoard *board = nullptr;
    int row = 0;
    QElapsedTimer passTimer;
    QElapsedTimer shownTimer;
};

#endif // PROGRESS_H
