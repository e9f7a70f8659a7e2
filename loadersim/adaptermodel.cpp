#include "adaptermodel.h"

AdapterModel::AdapterModel(int latencyMs)
    : latencyNs(qint64(qMax(latencyMs, 0)) * 1000000)
{
}

void AdapterModel::Put(const QByteArray &bytes, qint64 atNs)
{
    if (bytes.isEmpty())
        return;
    filling += bytes;
    const int whole = filling.size() / PacketBytes * PacketBytes;
    packets += filling.left(whole);
    filling.remove(0, whole);
    lastNs = atNs;
}

QByteArray AdapterModel::Take(qint64 nowNs)
{
    if (!filling.isEmpty() && nowNs >= lastNs + latencyNs) {
        packets += filling;
        filling.clear();
    }
    QByteArray due;
    due.swap(packets);
    return due;
}

qint64 AdapterModel::NextDueNs() const
{
    if (!packets.isEmpty())
        return lastNs;
    return filling.isEmpty() ? -1 : lastNs + latencyNs;
}

void AdapterModel::Clear()
{
    packets.clear();
    filling.clear();
}
