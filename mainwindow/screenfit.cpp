#include "screenfit.h"
#include "mainwindow.h"

#include <QFrame>
#include <QScreen>
#include <QScrollArea>

namespace {

// The title bar and the borders the system draws around the window, which
// the window does not know before it is shown: room for the tallest of the
// usual ones, at any scale, as the sizes here are in the scaled pixels.
const QSize FrameAllowance(16, 40);

} // namespace

QSize FitToRoom(const QSize &wanted, const QSize &minimum, const QSize &room)
{
    return wanted.expandedTo(minimum).boundedTo(room.expandedTo(QSize(0, 0)));
}

// The form scrolls inside the window rather than push the window off a
// small or scaled screen: at 200 % a 1920x1080 screen leaves 960x540.
void MainWindow::FitToScreen()
{
    if (!qobject_cast<QScrollArea *>(centralWidget())) {
        auto *scroll = new QScrollArea;
        scroll->setObjectName(QStringLiteral("formScroll"));
        scroll->setFrameShape(QFrame::NoFrame);
        scroll->setWidgetResizable(true);
        scroll->setWidget(takeCentralWidget());
        setCentralWidget(scroll);
    }
    const QScreen *where = screen();
    if (!where)
        return;
    resize(FitToRoom(size(), minimumSizeHint(), where->availableGeometry().size() - FrameAllowance));
}
