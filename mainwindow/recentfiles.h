#ifndef RECENTFILES_H
#define RECENTFILES_H

#include <QStringList>

// The recent files after path was chosen, newest first, each once, at
// most count: a file that opened goes first; one that would not open
// leaves the list, so that it is not offered again.
QStringList UpdatedRecent(const QStringList &recent, const QString &path, bool opened, int count);

#endif // RECENTFILES_H
