#ifndef SCREENFIT_H
#define SCREENFIT_H

#include <QSize>

// The size a window that would like wanted takes in the room a screen
// leaves it: never larger than the room, each side on its own, nor
// smaller than the window's minimum where the room allows it.
QSize FitToRoom(const QSize &wanted, const QSize &minimum, const QSize &room);

#endif // SCREENFIT_H
