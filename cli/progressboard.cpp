#include "progressboard.h"

#include <QMutexLocker>

namespace {

// A row that wraps would throw off the count of lines to go back up.
constexpr int RowWidth = 79;

} // namespace

ProgressBoard::ProgressBoard(const QStringList &ports, FILE *stream)
    : stream(stream), ports(ports)
{
    for (const QString &port : ports) {
        rows.append(QString());
        portWidth = qMax(portWidth, int(port.size()));
    }
}

void ProgressBoard::Set(int row, const QString &text)
{
    QMutexLocker lock(&mutex);
    changed = changed || rows.at(row) != text;
    rows[row] = text;
}

void ProgressBoard::Draw()
{
    QMutexLocker lock(&mutex);
    if (!changed)
        return;
    changed = false;
    if (drawn > 0)
        std::fprintf(stream, "\033[%dA", drawn);
    for (int i = 0; i < rows.size(); ++i) {
        const QString line = QStringLiteral("%1  %2").arg(ports.at(i), -portWidth).arg(rows.at(i)).left(RowWidth);
        std::fprintf(stream, "\r\033[K%s\n", line.toLocal8Bit().constData());
    }
    drawn = rows.size();
    std::fflush(stream);
}

void ProgressBoard::Clear()
{
    QMutexLocker lock(&mutex);
    if (drawn > 0)
        std::fprintf(stream, "\033[%dA\r\033[J", drawn);
    drawn = 0;
    changed = true;
    std::fflush(stream);
}
