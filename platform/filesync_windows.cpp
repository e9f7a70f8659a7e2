#include "filesync.h"

#include <QFileDevice>

#include <io.h>
#include <windows.h>

namespace {

QString SystemReason(DWORD code)
{
    wchar_t *text = nullptr;
    const DWORD length = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM
                                              | FORMAT_MESSAGE_IGNORE_INSERTS,
                                          nullptr, code, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    const QString reason = length ? QString::fromWCharArray(text, int(length)).trimmed()
                                  : QStringLiteral("system error %1").arg(code);
    ::LocalFree(text);
    return reason;
}

} // namespace

// FlushFileBuffers is what fsync is on Windows: the file system's cache
// and the disk's own go out before it returns.
QString SyncToDisk(QFileDevice &file)
{
    // The C runtime treats a closed descriptor as a programming error and
    // may end the process over it.
    if (file.handle() < 0)
        return QStringLiteral("the file is not open");
    const HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(file.handle()));
    if (handle != INVALID_HANDLE_VALUE && ::FlushFileBuffers(handle))
        return QString();
    return SystemReason(::GetLastError());
}
