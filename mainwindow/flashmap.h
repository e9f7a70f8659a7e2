#ifndef FLASHMAP_H
#define FLASHMAP_H

#include "blockplan.h"
#include "programmingjob.h"

#include <QObject>
#include <QVector>

// Where a page of the range stands in the last job. In the order of how
// much a page mixed with others in one spot of the map needs the eye: the
// greatest wins.
enum class PageState { Outside, Blank, Unchanged, Verified, Read, Written, Erased, ToDo, Failed };

// What can happen to a page during a job: its erase, the last of its
// image blocks written, verified or read, its comparison, a failure in it.
enum class PageEvent { Erased, Written, Verified, Read, Same, Differs, Failed };

// The pages from the start address to the end address and what the last
// job did to each, fed by the job's observer. Kept after the job, until
// the next one starts, so that the user can look at what was left where.
class FlashMapModel : public QObject
{
    Q_OBJECT

public:
    // A write or a verify of image: the pages its blocks touch are to do.
    // Blocks are planned as the job plans them, blockSize bytes a frame.
    void StartImage(quint32 start, quint32 end, quint32 pageSize, const FirmwareImage &image, int blockSize);
    // A backup of length bytes from start.
    void StartRead(quint32 start, quint32 end, quint32 pageSize, int length, int blockSize);

    // The observer's calls, and the failing page or block of a job.
    void Done(JobPass pass, quint32 address, int length);
    void PageCompared(quint32 page, bool unchanged);
    void Failed(quint32 address, int length);

    int Count() const { return pages.size(); }
    PageState State(int page) const { return pages.at(page).state; }
    quint32 Address(int page) const { return start + quint32(page) * pageSize; }
    // Bytes of the image in the page, or for a backup the bytes read from it.
    int Bytes(int page) const { return pages.at(page).bytes; }
    bool Reading() const { return reading; }

    // The state a page takes after event; blank: the image holds nothing
    // but 0xFF there, so the erase leaves it as it must be.
    static PageState After(PageState now, PageEvent event, bool blank);

signals:
    // Pages first to last (indexes) changed state; all of them after a start.
    void Changed(int first, int last);

private:
    struct Page
    {
        PageState state = PageState::Outside;
        bool blank = false;
        int bytes = 0;
        int toWrite = 0;    // bytes of the blocks that are not blank
        int toCheck = 0;    // bytes of all its blocks: verified or read
        int written = 0;
        int checked = 0;
    };

    void Start(quint32 first, quint32 end, quint32 size, const QVector<FlashBlock> &blocks);
    // Pages from address over length bytes, clipped to the range: first and last.
    bool Span(quint32 address, qint64 length, int *first, int *last) const;
    void Apply(int page, PageEvent event);
    // The event on every page that [address, address + length) touches.
    void ApplyToSpan(quint32 address, qint64 length, PageEvent event);

    quint32 start = 0;
    quint32 pageSize = 1;
    bool reading = false;
    QVector<Page> pages;
};

#endif // FLASHMAP_H
