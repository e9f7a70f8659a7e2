#include "recentfiles.h"

QStringList UpdatedRecent(const QStringList &recent, const QString &path, bool opened, int count)
{
    QStringList updated = recent;
    updated.removeAll(path);
    if (opened)
        updated.prepend(path);
    return updated.mid(0, count);
}
