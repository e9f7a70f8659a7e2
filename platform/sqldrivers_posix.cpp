#include "sqldrivers.h"

#include <QtGlobal>

// Debian packs each driver on its own, named after Qt's major version.
QString SqlDriverSource(const QString &driver)
{
    const QString kind = driver == QLatin1String("QSQLITE") ? QStringLiteral("sqlite") : QStringLiteral("psql");
    return QStringLiteral("the Debian package libqt%1sql%1-%2 brings it").arg(QT_VERSION_MAJOR).arg(kind);
}
