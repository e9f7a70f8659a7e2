#include "imageformat.h"

#include <QFileInfo>

namespace {

struct Extension
{
    const char *suffix;
    ImageFormat format;
};

const Extension extensions[] = {
    {"bine", ImageFormat::Raw},     {"bin", ImageFormat::Raw},      {"hex", ImageFormat::IntelHex},
    {"ihex", ImageFormat::IntelHex}, {"ihx", ImageFormat::IntelHex}, {"s19", ImageFormat::SRecord},
    {"s28", ImageFormat::SRecord},  {"s37", ImageFormat::SRecord},  {"srec", ImageFormat::SRecord},
    {"mot", ImageFormat::SRecord},  {"elf", ImageFormat::Elf},      {"axf", ImageFormat::Elf},
    {"out", ImageFormat::Elf},
};

const char *const names[] = {"raw", "ihex", "srec", "elf"};

} // namespace

bool ParseFormatName(const QString &name, ImageFormat *format)
{
    for (int i = 0; i < 4; ++i) {
        if (name.compare(QLatin1String(names[i]), Qt::CaseInsensitive) == 0) {
            *format = ImageFormat(i);
            return true;
        }
    }
    return false;
}

QString FormatName(ImageFormat format)
{
    return QLatin1String(names[int(format)]);
}

bool FormatFromExtension(const QString &fileName, ImageFormat *format)
{
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    for (const Extension &extension : extensions) {
        if (suffix == QLatin1String(extension.suffix)) {
            *format = extension.format;
            return true;
        }
    }
    return false;
}

ImageFormat FormatFromContent(const QByteArray &bytes)
{
    if (bytes.startsWith(':'))
        return ImageFormat::IntelHex;
    if (bytes.size() >= 2 && bytes[0] == 'S' && bytes[1] >= '0' && bytes[1] <= '9')
        return ImageFormat::SRecord;
    if (bytes.startsWith("\x7F" "ELF"))
        return ImageFormat::Elf;
    return ImageFormat::Raw;
}

ImageFormat DetectFormat(const QString &fileName, const QByteArray &bytes)
{
    ImageFormat format;
    return FormatFromExtension(fileName, &format) ? format : FormatFromContent(bytes);
}

ImageFormat OutputFormat(const QString &fileName)
{
    ImageFormat format;
    if (FormatFromExtension(fileName, &format) && format != ImageFormat::Elf)
        return format;
    return ImageFormat::Raw;
}
