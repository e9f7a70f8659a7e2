#ifndef STOREREPORT_H
#define STOREREPORT_H

#include "options.h"
#include "recordstore.h"

#include <QStringList>

// report: what the record store knows, as a table, CSV or JSON lines. It
// only reads: the store must be there, and nothing in it is changed.
int RunReport(const CliOptions &options);
// settle: a held number or one in doubt settled by hand, in a store that
// must be there.
int RunSettle(const CliOptions &options);

// Opens the store --db names; ExitDone, or ExitStore once the failure is told.
int OpenStore(RecordStore &store, const QString &db, StoreMode mode = StoreMode::Create);

// The lines report prints for these jobs, in the layout the options ask for.
QStringList JobLines(const QVector<JobRecord> &jobs, const CliOptions &options);
QStringList CountLines(const QVector<QPair<QString, int>> &counts, const CliOptions &options);
QStringList UnsettledLines(const QVector<SerialEntry> &entries, const CliOptions &options);
QStringList SettlementLines(const QVector<Settlement> &settlements, const CliOptions &options);

#endif // STOREREPORT_H
