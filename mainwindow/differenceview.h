#ifndef DIFFERENCEVIEW_H
#define DIFFERENCEVIEW_H

#include "differences.h"

#include <QDialog>

class QLabel;
class QTableView;

// Where the last verify found the flash other than the file: the ranges,
// and the selected one's bytes on both sides. Not modal: it stays open
// beside the window while the user looks at the device or the file.
class DifferenceView : public QDialog
{
    Q_OBJECT

public:
    explicit DifferenceView(QWidget *parent = nullptr);

    void SetDifferences(const FirmwareImage &image, const QVector<FlashDifference> &differences);
    // The device or the file has changed since the verify: what the view
    // shows may no longer hold, and it says so until the next verify.
    void MarkOutOfDate();
    bool OutOfDate() const { return outOfDate; }
    DifferenceRanges *Ranges() const { return ranges; }
    DifferenceBytes *Bytes() const { return bytes; }
    QTableView *RangesTable() const { return rangesTable; }

private:
    void ShowRange(int row);
    void ShowTitle();

    FirmwareImage image;
    QVector<FlashDifference> differences;
    DifferenceRanges *ranges;
    DifferenceBytes *bytes;
    QLabel *summary;
    QLabel *cut;
    QTableView *rangesTable;
    QLabel *staleNote;
    bool outOfDate = false;
};

#endif // DIFFERENCEVIEW_H
