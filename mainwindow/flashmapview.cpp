#include "flashmapview.h"

#include <QHelpEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QTimer>
#include <QToolTip>

namespace {

// A few rows of cells whatever the flash: the window keeps its height.
const int MapHeight = 72;
const int LegendGap = 6;
const int Swatch = 12;
// The smallest cell that still has room for a mark that the eye can read.
const int MarkedCell = 7;
// Often enough to follow a job by eye; a job waiting for replies then
// costs one repaint of a row or two per interval, not one per block.
const int RepaintMs = 50;

const PageState States[] = { PageState::Outside, PageState::ToDo, PageState::Erased, PageState::Written,
                             PageState::Blank, PageState::Unchanged, PageState::Verified, PageState::Read,
                             PageState::Failed };

QString Hex(quint32 address)
{
    return QStringLiteral("0x%1").arg(address, 8, 16, QLatin1Char('0'));
}

} // namespace

MapGeometry MapGeometry::Fit(int pages, int width, int height)
{
    MapGeometry fit;
    if (pages <= 0 || width <= 0 || height <= 0)
        return fit;
    for (int side = MaxCell; side >= MinCell; --side) {
        const int columns = qMax(1, width / side);
        if ((pages + columns - 1) / columns * side <= height)
            return { side, columns, pages };
    }
    fit.cell = MinCell;
    fit.columns = qMax(1, width / MinCell);
    fit.cells = qMin(pages, fit.columns * qMax(1, height / MinCell));
    return fit;
}

FlashMapView::FlashMapView(QWidget *parent) : QWidget(parent), repaintTimer(new QTimer(this))
{
    QSizePolicy policy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    repaintTimer->setSingleShot(true);
    repaintTimer->setInterval(RepaintMs);
    connect(repaintTimer, &QTimer::timeout, this, &FlashMapView::RepaintChanged);
    connect(&model, &FlashMapModel::Changed, this, &FlashMapView::PagesChanged);
}

// The Okabe-Ito colours, which people with any common colour blindness
// still tell apart; the marks carry the states where colour is not seen at
// all. Outside and to do differ in lightness alone: neither has happened.
QColor FlashMapView::StateColour(PageState state)
{
    switch (state) {
    case PageState::Outside:
        return QColor(0xe4, 0xe4, 0xe4);
    case PageState::ToDo:
        return QColor(0x99, 0x99, 0x99);
    case PageState::Erased:
        return QColor(0xf0, 0xe4, 0x42);
    case PageState::Written:
        return QColor(0x56, 0xb4, 0xe9);
    case PageState::Blank:
        return QColor(0xb8, 0xdc, 0xf0);
    case PageState::Unchanged:
        return QColor(0x00, 0x9e, 0x73);
    case PageState::Verified:
        return QColor(0x00, 0x72, 0xb2);
    case PageState::Read:
        return QColor(0xcc, 0x79, 0xa7);
    case PageState::Failed:
        return QColor(0xd5, 0x5e, 0x00);
    }
    return Qt::black;
}

FlashMapView::Mark FlashMapView::StateMark(PageState state)
{
    switch (state) {
    case PageState::Outside:
    case PageState::ToDo:
        return Mark::None;
    case PageState::Erased:
        return Mark::Dash;
    case PageState::Written:
        return Mark::Slash;
    case PageState::Blank:
        return Mark::Ring;
    case PageState::Unchanged:
        return Mark::Dot;
    case PageState::Verified:
        return Mark::Tick;
    case PageState::Read:
        return Mark::Bar;
    case PageState::Failed:
        return Mark::Cross;
    }
    return Mark::None;
}

// In black or white, whichever stands out from the cell's colour.
void FlashMapView::DrawMark(QPainter &painter, const QRect &cell, PageState state)
{
    const Mark mark = StateMark(state);
    if (mark == Mark::None || cell.width() < MarkedCell)
        return;
    const QColor fill = StateColour(state);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(fill.lightness() > 140 ? Qt::black : Qt::white, qMax(1.0, cell.width() / 8.0)));
    painter.setBrush(Qt::NoBrush);
    const QRectF box = QRectF(cell).adjusted(cell.width() * 0.22, cell.height() * 0.22, -cell.width() * 0.22,
                                             -cell.height() * 0.22);
    switch (mark) {
    case Mark::None:
        break;
    case Mark::Dash:
        painter.drawLine(QPointF(box.left(), box.center().y()), QPointF(box.right(), box.center().y()));
        break;
    case Mark::Bar:
        painter.drawLine(QPointF(box.center().x(), box.top()), QPointF(box.center().x(), box.bottom()));
        break;
    case Mark::Slash:
        painter.drawLine(box.bottomLeft(), box.topRight());
        break;
    case Mark::Ring:
        painter.drawEllipse(box);
        break;
    case Mark::Dot:
        painter.setBrush(painter.pen().color());
        painter.drawEllipse(box.center(), box.width() / 4, box.height() / 4);
        break;
    case Mark::Tick:
        painter.drawPolyline(QPolygonF({ QPointF(box.left(), box.center().y()),
                                         QPointF(box.center().x() - box.width() / 8, box.bottom()),
                                         box.topRight() }));
        break;
    case Mark::Cross:
        painter.drawLine(box.topLeft(), box.bottomRight());
        painter.drawLine(box.bottomLeft(), box.topRight());
        break;
    }
    painter.restore();
}

QString FlashMapView::StateName(PageState state)
{
    switch (state) {
    case PageState::Outside:
        return tr("Вне образа");
    case PageState::ToDo:
        return tr("Ожидает");
    case PageState::Erased:
        return tr("Стёрта");
    case PageState::Written:
        return tr("Записана");
    case PageState::Blank:
        return tr("Пустая (0xFF)");
    case PageState::Unchanged:
        return tr("Без изменений");
    case PageState::Verified:
        return tr("Проверена");
    case PageState::Read:
        return tr("Прочитана");
    case PageState::Failed:
        return tr("Ошибка");
    }
    return QString();
}

QSize FlashMapView::sizeHint() const
{
    return QSize(360, heightForWidth(360));
}

QSize FlashMapView::minimumSizeHint() const
{
    return QSize(120, heightForWidth(120));
}

int FlashMapView::heightForWidth(int width) const
{
    int legend = 0;
    LegendPlaces(width, &legend);
    return MapHeight + LegendGap + legend;
}

QVector<QRect> FlashMapView::LegendPlaces(int width, int *height) const
{
    const QFontMetrics metrics = fontMetrics();
    const int line = qMax(metrics.height(), Swatch);
    QVector<QRect> places;
    int x = 0;
    int y = MapHeight + LegendGap;
    for (PageState state : States) {
        const int entry = Swatch + 4 + metrics.horizontalAdvance(StateName(state));
        if (x > 0 && x + entry > width) {
            x = 0;
            y += line;
        }
        places.append(QRect(x, y, entry, line));
        x += entry + 12;
    }
    *height = y + line - MapHeight - LegendGap;
    return places;
}

void FlashMapView::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    geometry = MapGeometry::Fit(model.Count(), width(), MapHeight);
}

// A new job relays the whole map at once; the calls of a running job
// only mark pages, repainted together a moment later.
void FlashMapView::PagesChanged(int first, int last)
{
    if (first == 0 && last == model.Count() - 1) {
        geometry = MapGeometry::Fit(model.Count(), width(), MapHeight);
        repaintTimer->stop();
        dirtyFirst = dirtyLast = -1;
        update();
        return;
    }
    dirtyFirst = dirtyFirst < 0 ? first : qMin(dirtyFirst, first);
    dirtyLast = qMax(dirtyLast, last);
    if (!repaintTimer->isActive())
        repaintTimer->start();
}

void FlashMapView::RepaintChanged()
{
    if (dirtyFirst < 0 || geometry.cells == 0)
        return;
    const int firstRow = geometry.CellOf(dirtyFirst, model.Count()) / geometry.columns;
    const int lastRow = geometry.CellOf(dirtyLast, model.Count()) / geometry.columns;
    dirtyFirst = dirtyLast = -1;
    update(QRect(0, firstRow * geometry.cell, width(), (lastRow - firstRow + 1) * geometry.cell));
}

QRect FlashMapView::CellRect(int cell) const
{
    const int gap = geometry.cell > 4 ? 1 : 0;
    return QRect(cell % geometry.columns * geometry.cell, cell / geometry.columns * geometry.cell,
                 geometry.cell - gap, geometry.cell - gap);
}

int FlashMapView::CellAt(const QPoint &point) const
{
    if (geometry.cells == 0 || point.x() < 0 || point.y() < 0 || point.x() >= geometry.columns * geometry.cell)
        return -1;
    const int cell = point.y() / geometry.cell * geometry.columns + point.x() / geometry.cell;
    return cell < geometry.cells ? cell : -1;
}

PageState FlashMapView::CellState(int cell) const
{
    const int last = geometry.FirstPage(cell + 1, model.Count());
    PageState worst = PageState::Outside;
    for (int page = geometry.FirstPage(cell, model.Count()); page < last; ++page)
        worst = qMax(worst, model.State(page));
    return worst;
}

QString FlashMapView::CellTip(int cell) const
{
    const int first = geometry.FirstPage(cell, model.Count());
    const int last = geometry.FirstPage(cell + 1, model.Count()) - 1;
    int bytes = 0;
    for (int page = first; page <= last; ++page)
        bytes += model.Bytes(page);
    const QString where = first == last
        ? Hex(model.Address(first))
        : tr("%1 – %2, страниц: %3").arg(Hex(model.Address(first)), Hex(model.Address(last))).arg(last - first + 1);
    const QString amount = model.Reading() ? tr("Байт в копии: %1").arg(bytes) : tr("Байт образа: %1").arg(bytes);
    return where + QLatin1Char('\n') + StateName(CellState(cell)) + QLatin1Char('\n') + amount;
}

bool FlashMapView::event(QEvent *event)
{
    if (event->type() != QEvent::ToolTip)
        return QWidget::event(event);
    auto *help = static_cast<QHelpEvent *>(event);
    const int cell = CellAt(help->pos());
    if (cell < 0) {
        QToolTip::hideText();
        event->ignore();
        return true;
    }
    QToolTip::showText(help->globalPos(), CellTip(cell), this, CellRect(cell));
    return true;
}

void FlashMapView::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    const QRect exposed = event->rect();
    for (int cell = 0; cell < geometry.cells; ++cell) {
        const QRect place = CellRect(cell);
        if (!place.intersects(exposed))
            continue;
        const PageState state = CellState(cell);
        painter.fillRect(place, StateColour(state));
        DrawMark(painter, place, state);
    }
    int height = 0;
    const QVector<QRect> places = LegendPlaces(width(), &height);
    if (!exposed.intersects(QRect(0, MapHeight, width(), LegendGap + height)))
        return;
    painter.setPen(palette().color(QPalette::WindowText));
    for (int index = 0; index < places.size(); ++index) {
        const QRect place = places[index];
        const QRect swatch(place.x(), place.y() + (place.height() - Swatch) / 2, Swatch, Swatch);
        painter.fillRect(swatch, StateColour(States[index]));
        DrawMark(painter, swatch, States[index]);
        painter.drawRect(swatch.adjusted(0, 0, -1, -1));
        painter.drawText(place.adjusted(Swatch + 4, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
                         StateName(States[index]));
    }
}
