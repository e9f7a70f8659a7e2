#ifndef SQLDRIVERS_H
#define SQLDRIVERS_H

#include <QString>

// Where a missing Qt SQL driver (QSQLITE, QPSQL) comes from on this
// system, in words that finish "Qt has no QPSQL driver here (...)".
QString SqlDriverSource(const QString &driver);

#endif // SQLDRIVERS_H
