#include "bootcheck.h"

#include <QFile>

bool AppFirstWordErased(const FlashModel &flash)
{
    for (char c : flash.Read(flash.AppStart(), 4)) {
        if (c != char(0xFF))
            return false;
    }
    return true;
}

qint64 BootMismatch(const FlashModel &flash, const QByteArray &image)
{
    if (AppFirstWordErased(flash))
        return -1;
    const QByteArray held = flash.Read(flash.AppStart(), image.size());
    for (int i = 0; i < image.size(); ++i) {
        if (i >= held.size() || held.at(i) != image.at(i))
            return qint64(flash.AppStart()) + i;
    }
    return -1;
}

bool ReadBootImage(const QString &file, const FlashModel &flash, QByteArray *image, QString *error)
{
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly)) {
        *error = in.errorString();
        return false;
    }
    *image = in.readAll();
    if (image->isEmpty()) {
        *error = QStringLiteral("the file is empty");
        return false;
    }
    if (quint32(image->size()) > flash.AppSize()) {
        *error = QStringLiteral("%1 bytes do not fit the application area (%2 bytes from 0x%3)")
                     .arg(image->size())
                     .arg(flash.AppSize())
                     .arg(flash.AppStart(), 8, 16, QLatin1Char('0'));
        return false;
    }
    return true;
}
