#ifndef USERFOLDERS_H
#define USERFOLDERS_H

#include <QString>

// The folder where this user's Tamrivo data lives unless told otherwise:
// ~/.local/share/tamrivo on Linux, %LOCALAPPDATA%\tamrivo on Windows.
QString UserDataFolder();

#endif // USERFOLDERS_H
