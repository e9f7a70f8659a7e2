#ifndef STOREACCESS_H
#define STOREACCESS_H

#include "journal.h"
#include "recordstore.h"

#include <QObject>
#include <QThread>

#include <utility>

// The run's one connection to the record store, owned by the main thread
// (a database connection serves only the thread that opened it). Device
// threads reach it through Call, which runs the request on the main
// thread and waits for its answer: one login per run instead of one per
// port, which is most of what a store costs a station, and the requests
// of one station's ports go out one at a time. The run's journal, when
// it keeps one, is owned by the same thread and reached the same way.
class StoreAccess : public QObject
{
public:
    explicit StoreAccess(RecordStore &store, Journal *journal = nullptr) : store(store), journal(journal) {}

    // Only within a request.
    Journal *RecordJournal() const { return journal; }

    template <typename Request>
    auto Call(Request request) -> decltype(request(std::declval<RecordStore &>()))
    {
        if (QThread::currentThread() == thread())
            return request(store);
        decltype(request(store)) answer;
        QMetaObject::invokeMethod(this, [&] { answer = request(store); }, Qt::BlockingQueuedConnection);
        return answer;
    }

private:
    RecordStore &store;
    Journal *journal;
};

#endif // STOREACCESS_H
