#ifndef ADAPTERMODEL_H
#define ADAPTERMODEL_H

#include <QByteArray>
#include <QtGlobal>

// A USB-serial adapter between the loader's transmit line and the host.
// It collects received characters into USB packets: a full packet goes
// to the host at once, a partial one when the latency timer runs out,
// taken here at its worst phase: latencyMs after the last character came
// into the packet. Order is always kept.
class AdapterModel
{
public:
    static constexpr int PacketBytes = 62;   // 64-byte packets less 2 status bytes

    explicit AdapterModel(int latencyMs = 0);

    // Characters that came off the line at atNs.
    void Put(const QByteArray &bytes, qint64 atNs);
    // What the host has been handed by nowNs, removed from the adapter.
    QByteArray Take(qint64 nowNs);
    // When Take next has something to hand over; -1: nothing held.
    qint64 NextDueNs() const;
    int Held() const { return packets.size() + filling.size(); }
    // Unplugged: whatever it held is gone.
    void Clear();

private:
    qint64 latencyNs;
    QByteArray packets;     // full packets, due at once
    QByteArray filling;     // the packet still being filled
    qint64 lastNs = 0;      // when the last character came in
};

#endif
