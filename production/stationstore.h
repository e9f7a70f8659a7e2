#ifndef STATIONSTORE_H
#define STATIONSTORE_H

#include "journal.h"
#include "recordstore.h"
#include "storeaccess.h"

#include <QString>

#include <memory>

// The SQLite file in the user's data folder that serial numbers use when
// no store is named.
QString DefaultStore();
// The folder of the journals that keep job records until the store has
// them, beside the default store, when no other is named.
QString DefaultJournal();

// One front end's record store for as long as it serves boards: the
// connection, this process's journal for it, and their access, all owned
// by the thread that opens it. The window keeps one for its line, as
// tamrivo-cli keeps one for a run.
class StationStore
{
public:
    // address: as --db takes it; password: for PostgreSQL when libpq's
    // environment has none, kept only in the connection. Empty when open,
    // else why not.
    QString Open(const QString &address, const QString &journalFolder, const QString &password = QString());
    bool IsOpen() const { return access != nullptr; }
    StoreAccess *Access() const { return access.get(); }
    RecordStore &Records() { return records; }
    QString Name() const { return name; }

private:
    RecordStore records;
    std::unique_ptr<Journal> journal;
    std::unique_ptr<StoreAccess> access;
    QString name;
};

#endif // STATIONSTORE_H
