#ifndef PRODUCTIONPANEL_H
#define PRODUCTIONPANEL_H

#include "recordstore.h"

#include <QWidget>

class QCheckBox;
class QLabel;
class QPushButton;
class QTreeWidget;

// How a board's job ended, as the line's operator reads it across the room.
enum class BoardVerdict { Pass, Fail, Stopped };

// The production line's panel: the last board's result large, in a word
// and a symbol as well as a colour, its serial number, class and reason;
// today's passed and failed boards of this station and the last boards,
// both as the store has them; the key for the next board and the
// automatic start. It only shows: the window runs the boards.
class ProductionPanel : public QWidget
{
    Q_OBJECT

public:
    explicit ProductionPanel(QWidget *parent = nullptr);

    QPushButton *NextButton() const { return next; }
    QCheckBox *AutoBox() const { return automatic; }

    // serial < 0: the board got no number.
    void ShowBoard(BoardVerdict verdict, qint64 serial, const QString &resultClass, const QString &reason);
    // While a board is programmed, or the line waits for the next one.
    void ShowState(const QString &text);
    void ShowCounts(int passed, int failed);
    void ShowRecent(const QVector<JobRecord> &jobs);
    // The store could not be asked; the counts say so instead of showing old ones.
    void ShowStoreTrouble(const QString &text);

private:
    QLabel *verdict;
    QLabel *details;
    QLabel *state;
    QLabel *counts;
    QTreeWidget *recent;
    QPushButton *next;
    QCheckBox *automatic;
};

#endif // PRODUCTIONPANEL_H
