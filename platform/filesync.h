#ifndef FILESYNC_H
#define FILESYNC_H

#include <QString>

class QFileDevice;

// Pushes what was written to the open file through to the disk, so that
// a line a caller was told is kept survives a crash or a power cut. The
// file must be unbuffered (or flushed). Empty when done, else the
// system's reason.
QString SyncToDisk(QFileDevice &file);

#endif // FILESYNC_H
