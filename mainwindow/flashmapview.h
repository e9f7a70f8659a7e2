#ifndef FLASHMAPVIEW_H
#define FLASHMAPVIEW_H

#include "flashmap.h"

#include <QWidget>

class QPainter;
class QTimer;

// Which pages a cell of the map shows: with more pages than cells, each
// cell takes a run of neighbours and shows the worst of them.
struct MapGeometry
{
    int cell = 0;       // side of a cell in pixels
    int columns = 1;
    int cells = 0;

    // The largest square cells (down to MinCell) that hold every page in
    // width by height; pages share cells only where even MinCell is too big.
    static MapGeometry Fit(int pages, int width, int height);
    int FirstPage(int cell, int pages) const { return int(qint64(cell) * pages / cells); }
    int CellOf(int page, int pages) const { return int((qint64(page + 1) * cells - 1) / pages); }

    static constexpr int MinCell = 3;
    static constexpr int MaxCell = 24;
};

// The flash map: a cell per page (or per run of pages) coloured by state,
// with a legend under it and the page's address, state and bytes as its
// tooltip. Its height does not depend on the number of pages.
class FlashMapView : public QWidget
{
    Q_OBJECT

public:
    explicit FlashMapView(QWidget *parent = nullptr);

    // What a cell carries beside its colour, so that no state is told by
    // colour alone.
    enum class Mark { None, Dash, Bar, Slash, Ring, Dot, Tick, Cross };

    FlashMapModel &Model() { return model; }
    static QString StateName(PageState state);
    static QColor StateColour(PageState state);
    static Mark StateMark(PageState state);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    static void DrawMark(QPainter &painter, const QRect &cell, PageState state);
    void PagesChanged(int first, int last);
    void RepaintChanged();
    QRect CellRect(int cell) const;
    int CellAt(const QPoint &point) const;
    PageState CellState(int cell) const;
    QString CellTip(int cell) const;
    // Where the legend's entries go for width; its height in *height.
    QVector<QRect> LegendPlaces(int width, int *height) const;

    FlashMapModel model;
    MapGeometry geometry;
    QTimer *repaintTimer;
    int dirtyFirst = -1;    // pages changed since the last repaint
    int dirtyLast = -1;
};

#endif // FLASHMAPVIEW_H
