// Feeds arbitrary received bytes through the link's reply handling: whole
// as one line to DecodeLine, and in port-sized chunks through the line
// gathering of ReadPort. Aborts when a decoded line disagrees with the hex
// text it came from.

#include "devicelink.h"

#include <cstdint>
#include <cstdlib>

namespace {

void Require(bool condition)
{
    if (!condition)
        std::abort();
}

void CheckDecode(const DeviceLink &link, const QByteArray &line)
{
    QByteArray out("untouched");
    const int count = link.DecodeLine(line, &out);
    const int start = line.indexOf('^');
    if (count == DeviceLink::DecodeFailed) {
        Require(start >= 0 ? out.size() <= DeviceLink::MaxFrameBytes : out == "untouched");
        return;
    }
    Require(start >= 0 && count == out.size() && count <= DeviceLink::MaxFrameBytes);
    const int end = line.indexOf('\r', start + 1);
    const QByteArray text = end < 0 ? QByteArray() : line.mid(start + 1, end - start - 1);
    Require(out.toHex().toUpper() == text);
}

DeviceLink *QuietLink()
{
    auto *link = new DeviceLink;
    link->SetTrace(nullptr);
    return link;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static DeviceLink *link = QuietLink();
    if (size == 0)
        return 0;
    // The first byte picks the read size, as a port delivers up to 100
    // bytes per poll.
    const int chunk = 1 + data[0] % 100;
    const QByteArray input(reinterpret_cast<const char *>(data + 1), int(size - 1));
    CheckDecode(*link, input);
    QByteArray line;
    for (int at = 0; at < input.size(); at += chunk) {
        const bool complete = link->AppendChunk(line, input.mid(at, chunk));
        Require(line.isEmpty() || line.startsWith('^'));
        if (complete) {
            Require(line.contains('\r'));
            CheckDecode(*link, line);
            break;
        }
    }
    return 0;
}
