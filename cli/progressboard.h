#ifndef PROGRESSBOARD_H
#define PROGRESSBOARD_H

#include <QMutex>
#include <QString>
#include <QStringList>

#include <cstdio>

// One line per port on a terminal, redrawn in place. Jobs set their row
// from their own threads; only the main thread draws, so that the lines
// and the messages printed above them never cut into each other.
class ProgressBoard
{
public:
    explicit ProgressBoard(const QStringList &ports, FILE *stream = stderr);

    void Set(int row, const QString &text);
    // Redraws the rows if any changed since the last time.
    void Draw();
    // Takes the rows off the screen, so that a message can stand there;
    // the next Draw puts them back below it.
    void Clear();

private:
    QMutex mutex;
    FILE *stream;
    QStringList ports;
    QStringList rows;
    bool changed = true;
    int drawn = 0;          // rows on the screen above the cursor
    int portWidth = 0;
};

#endif // PROGRESSBOARD_H
