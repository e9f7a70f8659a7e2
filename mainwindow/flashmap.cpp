#include "flashmap.h"

namespace {

// Bytes that [from, from + length) and [page, page + size) share.
int Overlap(quint64 from, qint64 length, quint64 page, quint32 size)
{
    const quint64 low = qMax(from, page);
    const quint64 high = qMin(from + quint64(length), page + size);
    return high > low ? int(high - low) : 0;
}

} // namespace

void FlashMapModel::StartImage(quint32 first, quint32 end, quint32 size, const FirmwareImage &image,
                               int blockSize)
{
    reading = false;
    Start(first, end, size, PlanImageBlocks(image, first, blockSize));
    for (const ImageSegment &segment : image.Segments()) {
        int low = 0;
        int high = 0;
        if (!Span(segment.address, segment.bytes.size(), &low, &high))
            continue;
        for (int page = low; page <= high; ++page)
            pages[page].bytes += Overlap(segment.address, segment.bytes.size(), Address(page), pageSize);
    }
    emit Changed(0, pages.size() - 1);
}

void FlashMapModel::StartRead(quint32 first, quint32 end, quint32 size, int length, int blockSize)
{
    reading = true;
    Start(first, end, size, PlanReadBlocks(first, length, blockSize));
    for (Page &page : pages)
        page.bytes = page.toCheck;
    emit Changed(0, pages.size() - 1);
}

// A page is blank only when it has blocks and every one of them holds
// nothing but 0xFF; the blocks of a read hold no bytes at all.
void FlashMapModel::Start(quint32 first, quint32 end, quint32 size, const QVector<FlashBlock> &blocks)
{
    start = first;
    pageSize = qMax(size, 1u);
    const quint64 span = end >= first ? quint64(end) - first + 1 : 0;
    pages = QVector<Page>(int((span + pageSize - 1) / pageSize));
    QVector<bool> foreign(pages.size(), false);
    for (const FlashBlock &block : blocks) {
        int low = 0;
        int high = 0;
        if (!Span(block.address, block.length, &low, &high))
            continue;
        const bool blank = !block.bytes.isEmpty() && block.Blank();
        for (int index = low; index <= high; ++index) {
            Page &page = pages[index];
            const int shared = Overlap(block.address, block.length, Address(index), pageSize);
            page.state = PageState::ToDo;
            page.toCheck += shared;
            page.toWrite += blank ? 0 : shared;
            foreign[index] = foreign[index] || !blank;
        }
    }
    for (int index = 0; index < pages.size(); ++index)
        pages[index].blank = pages[index].state == PageState::ToDo && !foreign[index];
}

bool FlashMapModel::Span(quint32 address, qint64 length, int *first, int *last) const
{
    const qint64 from = qint64(address) - qint64(start);
    const qint64 to = from + qMax(length, qint64(1)) - 1;
    const qint64 limit = qint64(pages.size()) * pageSize;
    if (pages.isEmpty() || to < 0 || from >= limit)
        return false;
    *first = int(qMax(from, qint64(0)) / pageSize);
    *last = int(qMin(to, limit - 1) / pageSize);
    return true;
}

void FlashMapModel::Done(JobPass pass, quint32 address, int length)
{
    int first = 0;
    int last = 0;
    if (!Span(address, length, &first, &last))
        return;
    for (int index = first; index <= last; ++index) {
        Page &page = pages[index];
        const int shared = Overlap(address, length, Address(index), pageSize);
        switch (pass) {
        case JobPass::Erase:
            // What was written or verified before went with the erase.
            page.written = 0;
            page.checked = 0;
            Apply(index, PageEvent::Erased);
            break;
        case JobPass::Write:
            page.written += shared;
            if (page.written >= page.toWrite)
                Apply(index, PageEvent::Written);
            break;
        case JobPass::Verify:
        case JobPass::Read:
            page.checked += shared;
            if (page.checked >= page.toCheck)
                Apply(index, pass == JobPass::Read ? PageEvent::Read : PageEvent::Verified);
            break;
        case JobPass::Compare:
            break;
        }
    }
    emit Changed(first, last);
}

void FlashMapModel::PageCompared(quint32 page, bool unchanged)
{
    ApplyToSpan(page, pageSize, unchanged ? PageEvent::Same : PageEvent::Differs);
}

// An erase fails with no length: its page alone.
void FlashMapModel::Failed(quint32 address, int length)
{
    ApplyToSpan(address, length, PageEvent::Failed);
}

void FlashMapModel::ApplyToSpan(quint32 address, qint64 length, PageEvent event)
{
    int first = 0;
    int last = 0;
    if (!Span(address, length, &first, &last))
        return;
    for (int index = first; index <= last; ++index)
        Apply(index, event);
    emit Changed(first, last);
}

void FlashMapModel::Apply(int page, PageEvent event)
{
    pages[page].state = After(pages[page].state, event, pages[page].blank);
}

PageState FlashMapModel::After(PageState now, PageEvent event, bool blank)
{
    switch (event) {
    case PageEvent::Erased:
        return blank ? PageState::Blank : PageState::Erased;
    case PageEvent::Written:
        return PageState::Written;
    case PageEvent::Verified:
        return blank ? PageState::Blank : PageState::Verified;
    case PageEvent::Read:
        return PageState::Read;
    case PageEvent::Same:
        return PageState::Unchanged;
    case PageEvent::Differs:
        return now;
    case PageEvent::Failed:
        return PageState::Failed;
    }
    return now;
}
