#include "filesync.h"

#include <QFileDevice>

#include <cerrno>
#include <cstring>

#include <unistd.h>

QString SyncToDisk(QFileDevice &file)
{
    if (::fsync(file.handle()) == 0)
        return QString();
    return QString::fromLocal8Bit(std::strerror(errno));
}
