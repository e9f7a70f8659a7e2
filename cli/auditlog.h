#ifndef AUDITLOG_H
#define AUDITLOG_H

#include <QFile>
#include <QJsonObject>
#include <QString>

// A station's record of what was flashed where: one JSON line per device
// job, appended and on the disk before the next device starts. Opened for
// appending only, so it never loses a line already there, and each line
// goes out in one write, so that several stations can share one file.
class AuditLog
{
public:
    // Empty when the file is ready, else why it cannot be used.
    QString Open(const QString &path);
    bool IsOpen() const { return file.isOpen(); }
    // False if the line could not be written and synced.
    bool Append(const QJsonObject &record);
    QString ErrorString() const { return file.errorString(); }

private:
    QFile file;
};

#endif // AUDITLOG_H
