#include "stationstore.h"

#include "userfolders.h"

QString DefaultStore()
{
    return UserDataFolder() + QStringLiteral("/production.sqlite");
}

QString DefaultJournal()
{
    return UserDataFolder() + QStringLiteral("/journal");
}

QString StationStore::Open(const QString &address, const QString &journalFolder, const QString &password)
{
    access.reset();
    StoreResult<StoreAddress> parsed = ParseStoreAddress(address);
    if (!parsed.Ok())
        return parsed.error;
    parsed.value.password = password;
    const StoreResult<bool> opened = records.Open(parsed.value);
    if (!opened.Ok())
        return opened.error;
    // A journal serves one store: another store gets a journal of its own,
    // and the last one's records wait for the next run that uses it.
    if (!journal || StoreName(parsed.value) != name) {
        name = StoreName(parsed.value);
        journal = std::make_unique<Journal>();
        const QString error = journal->Open(journalFolder, name);
        if (!error.isEmpty()) {
            journal.reset();
            return error;
        }
    }
    access = std::make_unique<StoreAccess>(records, journal.get());
    return QString();
}
