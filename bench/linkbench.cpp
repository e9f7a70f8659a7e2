// Measures the device link against a pseudo-terminal peer that answers at
// once: block transactions per second, and the processor share taken
// while a query waits out a silent device.

#include "answeringpeer.h"
#include "devicelink.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSerialPort>

#include <sys/resource.h>

#include <cstdio>

namespace {

constexpr int BlockLength = 64;
constexpr qint64 RunMs = 2000;
constexpr int SilentQueries = 3;

double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval &t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

template <typename Transaction>
void MeasureRate(const char *name, Transaction transaction)
{
    QElapsedTimer wall;
    wall.start();
    int count = 0;
    int failures = 0;
    while (wall.elapsed() < RunMs) {
        if (transaction() != LinkOk)
            ++failures;
        ++count;
    }
    const double seconds = double(wall.nsecsElapsed()) / 1e9;
    std::printf("%-16s %8d transactions in %.2f s: %8.0f /s, %d failed\n",
                name, count, seconds, count / seconds, failures);
}

void MeasureSilentWait(DeviceLink &link, AnsweringPeer &peer)
{
    peer.SetSilent(true);
    const QByteArray header = QByteArray::fromHex("000000084000");
    QElapsedTimer wall;
    const double cpuBefore = CpuSeconds();
    wall.start();
    int noReply = 0;
    for (int i = 0; i < SilentQueries; ++i) {
        QByteArray reply;
        if (link.ExecQuery(header, &reply, 0x64, 68, 255, 0x02) == LinkNoReply)
            ++noReply;
    }
    const double seconds = double(wall.nsecsElapsed()) / 1e9;
    const double cpu = CpuSeconds() - cpuBefore;
    std::printf("silent ExecQuery  %d x 3 x 255 ms: wall %.3f s, cpu %.4f s, %.2f %% of one core, %d of %d LinkNoReply\n",
                SilentQueries, seconds, cpu, 100.0 * cpu / seconds, noReply, SilentQueries);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    AnsweringPeer peer;
    if (!peer.Open()) {
        std::fprintf(stderr, "cannot open a pseudo-terminal\n");
        return 1;
    }
    QSerialPort port(peer.SlavePath());
    port.setBaudRate(QSerialPort::Baud9600);
    if (!port.open(QIODevice::ReadWrite)) {
        std::fprintf(stderr, "cannot open %s\n", qPrintable(peer.SlavePath()));
        return 1;
    }
    DeviceLink link;
    link.SetPort(&port);
    link.SetTrace(nullptr);

    const QByteArray block(BlockLength, '\x5A');
    MeasureRate("WriteBlock 64", [&] { return link.WriteBlock(block, 0x08000000, BlockLength); });
    MeasureRate("ReadBlock 64", [&] {
        QByteArray out;
        return link.ReadBlock(&out, 0x08000000, BlockLength);
    });
    MeasureSilentWait(link, peer);
    return 0;
}
