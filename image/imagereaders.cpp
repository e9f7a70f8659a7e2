#include "imagereaders.h"

#include "imagebuilder.h"

#include <QFile>

ImageResult ImageFailure(const QString &fileName, int line, const QString &reason)
{
    ImageResult result;
    result.line = line;
    result.error = line > 0 ? QStringLiteral("%1 line %2: %3").arg(fileName).arg(line).arg(reason)
                            : QStringLiteral("%1: %2").arg(fileName, reason);
    return result;
}

ImageResult ReadRawImage(const QByteArray &bytes, const QString &fileName, quint32 start)
{
    ImageBuilder builder;
    const ImageBuilder::Status status = builder.Add(start, bytes);
    if (status != ImageBuilder::Added)
        return ImageFailure(fileName, 0, ImageBuilder::Describe(status));
    return {builder.Finish(), QString(), 0};
}

ImageResult ReadImage(const QByteArray &bytes, const QString &fileName, ImageFormat format, quint32 rawStart)
{
    switch (format) {
    case ImageFormat::IntelHex:
        return ReadIntelHex(bytes, fileName);
    case ImageFormat::SRecord:
        return ReadSRecord(bytes, fileName);
    case ImageFormat::Elf:
        return ReadElf(bytes, fileName);
    case ImageFormat::Raw:
        break;
    }
    return ReadRawImage(bytes, fileName, rawStart);
}

ImageResult LoadImageFile(const QString &path, quint32 rawStart, std::optional<ImageFormat> format)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return ImageFailure(path, 0, file.errorString());
    if (file.size() > MaxImageFileBytes)
        return ImageFailure(path, 0, QStringLiteral("larger than %1 MiB").arg(MaxImageFileBytes >> 20));
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return ImageFailure(path, 0, file.errorString());
    return ReadImage(bytes, path, format ? *format : DetectFormat(path, bytes), rawStart);
}
