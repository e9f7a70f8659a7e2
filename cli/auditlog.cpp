#include "auditlog.h"

#include "filesync.h"

#include <QJsonDocument>


QString AuditLog::Open(const QString &path)
{
    file.setFileName(path);
    // Unbuffered: a line must not wait in a buffer, half of it written
    // later next to another station's line.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return QStringLiteral("cannot open %1: %2").arg(path, file.errorString());
    return QString();
}

bool AuditLog::Append(const QJsonObject &record)
{
    const QByteArray line = QJsonDocument(record).toJson(QJsonDocument::Compact) + '\n';
    return file.write(line) == line.size() && SyncToDisk(file).isEmpty();
}
