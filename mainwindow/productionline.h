#ifndef PRODUCTIONLINE_H
#define PRODUCTIONLINE_H

#include "project.h"
#include "seriallifecycle.h"

#include <QString>

#include <optional>

// What the window needs to serve a production line: the boards' serial
// numbers (address, layout, pool and its range, what a failed board's
// number becomes), the store that hands them out and keeps the records,
// and the station's name in them. The job, station and port of the
// serial settings are filled in per board.
struct LineSettings
{
    SerialSettings serial;
    QString storeAddress;           // as --db takes it; empty: the default SQLite store
    QString journalFolder;          // empty: the default, as tamrivo-cli's
    QString station;                // empty: the host's name, as tamrivo-cli's
};

// The line a project sets up: one that numbers its boards, with the
// project's store and station; none for a project without numbers.
std::optional<LineSettings> LineFromProject(const Project &project);

// How often the automatic start asks the board in the socket for its
// parameters: a station waiting all day costs next to nothing, and a new
// board is taken about as soon as tamrivo-cli --wait takes one.
constexpr int BoardPollMs = 250;

// What the automatic start waits for after a board: the board to stop
// answering (taken out), then a board to answer (a new one seated).
enum class BoardWait { Off, Gone, Seated };

// The next wait, given whether the socket answered the last poll; Off
// from Seated means: start the board now.
BoardWait NextWait(BoardWait wait, bool answered);

#endif // PRODUCTIONLINE_H
