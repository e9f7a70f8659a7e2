#include "screenfit.h"
#include "mainwindow.h"
#include "ui_mainwindow.h"

#include <QEvent>
#include <QFrame>
#include <QMenuBar>
#include <QScreen>
#include <QScrollArea>
#include <QStatusBar>
#include <QToolBar>

namespace {

// The title bar and the borders the system draws around the window, which
// the window does not know before it is shown: room for the tallest of the
// usual ones, at any scale, as the sizes here are in the scaled pixels.
const QSize FrameAllowance(16, 40);

QSize Room(const QWidget *window)
{
    const QScreen *screen = window->screen();
    return screen ? screen->availableGeometry().size() - FrameAllowance : QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
}

// The form in a scroll area that grows the window, as far as the screen
// allows, whenever the form needs more room than it has: a longer file
// name, a legend on more lines. Only what is left over scrolls.
class FormArea : public QScrollArea
{
public:
    explicit FormArea(QWidget *form)
    {
        setObjectName(QStringLiteral("formScroll"));
        setFrameShape(QFrame::NoFrame);
        setWidgetResizable(true);
        setWidget(form);
        form->installEventFilter(this);
    }

    // How much more room the form needs than the area gives it now.
    QSize Shortfall() const
    {
        const QWidget *form = widget();
        const int width = qMax(viewport()->width(), form->minimumSizeHint().width());
        const int height = form->hasHeightForWidth() ? form->heightForWidth(width) : form->minimumSizeHint().height();
        return QSize(width - viewport()->width(), height - viewport()->height()).expandedTo(QSize(0, 0));
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == widget() && event->type() == QEvent::LayoutRequest && window()->isVisible())
            Grow();
        return QScrollArea::eventFilter(watched, event);
    }

private:
    void Grow()
    {
        QWidget *top = window();
        const QSize wanted = top->size() + Shortfall();
        if (wanted != top->size())
            top->resize(FitToRoom(wanted, top->minimumSizeHint(), Room(top)));
    }
};

} // namespace

QSize FitToRoom(const QSize &wanted, const QSize &minimum, const QSize &room)
{
    return wanted.expandedTo(minimum).boundedTo(room.expandedTo(QSize(0, 0)));
}

// The form scrolls inside the window rather than push the window off a
// small or scaled screen: at 200 % a 1920x1080 screen leaves 960x540. It
// opens whole where the screen has room for it, beside the bars around it.
void MainWindow::FitToScreen()
{
    QWidget *form = takeCentralWidget();
    setCentralWidget(new FormArea(form));
    const int bars = menuBar()->sizeHint().height() + ui->mainToolBar->sizeHint().height()
        + statusBar()->sizeHint().height();
    const QSize natural = size().expandedTo(form->sizeHint() + QSize(0, bars));
    resize(FitToRoom(natural, minimumSizeHint(), Room(this)));
}
