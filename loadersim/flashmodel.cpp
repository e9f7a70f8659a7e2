#include "flashmodel.h"

#include <QFile>

FlashModel::FlashModel(quint32 base, quint32 size, quint32 pageSize, quint32 loaderSize,
                       bool strictRewrite)
    : base(base),
      pageSize(qMax<quint32>(pageSize, 1)),
      loaderSize(qMin(loaderSize, size)),
      strictRewrite(strictRewrite),
      cells(int(size), char(0xFF))
{
}

bool FlashModel::Contains(quint32 address, quint32 length) const
{
    const quint64 offset = quint64(address) - base;
    return address >= base && offset + length <= quint64(Size());
}

bool FlashModel::InApp(quint32 address, quint32 length) const
{
    return address >= AppStart() && Contains(address, length);
}

QByteArray FlashModel::Read(quint32 address, int length) const
{
    if (length < 0 || !Contains(address, quint32(length)))
        return QByteArray();
    return cells.mid(int(address - base), length);
}

LoaderStatus FlashModel::Erase(quint32 address, quint32 count)
{
    if (!Contains(address, 1))
        return StatusOutOfRange;
    const quint64 first = quint64(address - base) / pageSize * pageSize;
    const quint64 length = quint64(count) * pageSize;
    if (first + length > quint64(Size()) || first < loaderSize)
        return StatusOutOfRange;
    cells.replace(int(first), int(length), QByteArray(int(length), char(0xFF)));
    return StatusOk;
}

LoaderStatus FlashModel::Write(quint32 address, const QByteArray &data)
{
    if (!InApp(address, quint32(data.size())))
        return StatusOutOfRange;
    const int offset = int(address - base);
    for (int i = 0; i < data.size(); ++i) {
        const char cell = cells.at(offset + i);
        if (cell != char(0xFF) && (strictRewrite || cell != data.at(i)))
            return StatusNotErased;
    }
    cells.replace(offset, data.size(), data);
    return StatusOk;
}

void FlashModel::Poke(quint32 address, char value)
{
    if (Contains(address, 1))
        cells[int(address - base)] = value;
}

bool FlashModel::Load(const QString &file, QString *error)
{
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly)) {
        if (error)
            *error = in.errorString();
        return false;
    }
    const QByteArray image = in.readAll();
    if (image.size() > cells.size()) {
        if (error)
            *error = QStringLiteral("image of %1 bytes is larger than the flash").arg(image.size());
        return false;
    }
    cells.fill(char(0xFF));
    cells.replace(0, image.size(), image);
    return true;
}

bool FlashModel::Save(const QString &file, QString *error) const
{
    QFile out(file);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) || out.write(cells) != cells.size()) {
        if (error)
            *error = out.errorString();
        return false;
    }
    return true;
}
