// Image files made by real tools (data/make.sh: srec_cat, GNU binutils) read
// into the bytes those tools put there; broken files refused with line and
// reason; our own files read back by us and by srec_cat.

#include "imagebuilder.h"
#include "imagereaders.h"
#include "imagewriters.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

Q_DECLARE_METATYPE(ImageFormat)

namespace {

QByteArray DataFile(const QString &name)
{
    QFile file(QStringLiteral(IMAGE_DATA_DIR "/") + name);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("missing test file %s", qPrintable(name));
    return file.readAll();
}

ImageResult ReadDataFile(const QString &name)
{
    const QByteArray bytes = DataFile(name);
    return ReadImage(bytes, name, DetectFormat(name, bytes), 0x08004000);
}

QByteArray Write(const FirmwareImage &image, ImageFormat format, int bytesPerLine)
{
    return format == ImageFormat::IntelHex ? WriteIntelHex(image, bytesPerLine)
                                           : WriteSRecord(image, "tamrivo", bytesPerLine);
}

} // namespace

class TestImageFiles : public QObject
{
    Q_OBJECT

private slots:
    void readsToolFiles_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<uint>("base");
        QTest::addColumn<QString>("expected");  // the bytes from base on, gaps as zeros
        QTest::addColumn<int>("segments");
        QTest::addColumn<int>("dataBytes");
        QTest::newRow("ihex, 04 records across 64 KiB") << "gaps.hex" << 0x0800FF80u << "src-gap.bin" << 2 << 872;
        QTest::newRow("ihex, CR LF") << "gaps-crlf.ihex" << 0x0800FF80u << "src-gap.bin" << 2 << 872;
        QTest::newRow("ihex, 02 segments") << "gaps-seg.ihx" << 0x0002FF80u << "src-gap.bin" << 2 << 872;
        QTest::newRow("ihex, up to 0xFFFFFFFF") << "top.hex" << 0xFFFFFC18u << "src-gap.bin" << 2 << 872;
        QTest::newRow("ihex, agreeing overlap") << "overlap.hex" << 0x08000000u << "src-300.bin" << 1 << 768;
        QTest::newRow("S19") << "gaps.s19" << 0x1000u << "src-gap.bin" << 2 << 872;
        QTest::newRow("S28") << "gaps.s28" << 0x00FFFE00u << "src-gap.bin" << 2 << 872;
        QTest::newRow("S37") << "gaps.s37" << 0x0800FF80u << "src-gap.bin" << 2 << 872;
        QTest::newRow("S37, up to 0xFFFFFFFF") << "top.srec" << 0xFFFFFC18u << "src-gap.bin" << 2 << 872;
        QTest::newRow("ELF, .data loaded after .text, .bss left out") << "tiny.elf" << 0x08000000u << "tiny.bin" << 1 << 56;
        QTest::newRow("raw, at the start given") << "src.bin" << 0x08004000u << "src.bin" << 1 << 1000;
    }

    void readsToolFiles()
    {
        QFETCH(QString, file);
        QFETCH(uint, base);
        QFETCH(QString, expected);
        QFETCH(int, segments);
        QFETCH(int, dataBytes);
        const ImageResult result = ReadDataFile(file);
        QVERIFY2(result.Ok(), qPrintable(result.error));
        const QByteArray bytes = DataFile(expected);
        QCOMPARE(result.image.Segments().size(), segments);
        QCOMPARE(result.image.ByteCount(), qint64(dataBytes));
        QCOMPARE(result.image.LowestAddress(), base);
        QCOMPARE(result.image.HighestAddress(), base + uint(bytes.size()) - 1);
        QCOMPARE(result.image.Bytes(base, bytes.size(), '\0'), bytes);
        for (int i = 0; i + 2 <= bytes.size(); ++i)  // from every address, the last of a segment too
            QCOMPARE(result.image.Bytes(base + uint(i), 2, '\0'), bytes.mid(i, 2));
    }

    void refusesBrokenText_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("line");
        QTest::addColumn<QString>("error");
        const QByteArray data = ":0400000001020304F2\n", end = ":00000001FF\n";
        QTest::newRow("ihex checksum") << "a.hex" << QByteArray(":0400000001020304F3\n" + end) << 1
                                       << "a.hex line 1: checksum 0xF3, expected 0xF2";
        QTest::newRow("ihex byte count") << "a.hex" << QByteArray(":0500000001020304F1\n" + end) << 1
                                         << "a.hex line 1: byte count 0x05, but the record holds 4 data bytes";
        QTest::newRow("ihex without end") << "a.hex" << data << 0 << "a.hex: no end-of-file record: the file is truncated";
        QTest::newRow("ihex cut in a line") << "a.hex" << QByteArray(data + ":04001000AABB") << 2
                                            << "a.hex line 2: byte count 0x04, but the record holds 1 data bytes";
        QTest::newRow("ihex disagreeing overlap")
            << "a.hex" << QByteArray(":04001000AABBCCDDDE\n" + data + "\n:04002000AABBCCDDCE\n:02000200FFFFFE\n" + end)
            << 5 << "a.hex line 5: data at 0x00000002 is 0xFF here but 0x03 on line 2";
        QTest::newRow("ihex past 0xFFFFFFFF") << "a.hex" << QByteArray(":02000004FFFFFC\n:04FFFD0001020304F6\n" + end) << 2
                                              << "a.hex line 2: record at 0xFFFFFFFD runs past 0xFFFFFFFF";
        QTest::newRow("ihex after the end") << "a.hex" << QByteArray(end + "\r\n" + data) << 3
                                            << "a.hex line 3: text after the end-of-file record";
        QTest::newRow("ihex 04 length") << "a.hex" << QByteArray(":03000004000000F9\n" + end) << 1
                                        << "a.hex line 1: a type 0x04 record holds 3 data bytes, not 2";
        QTest::newRow("ihex digit") << "a.hex" << QByteArray(":04000000010203G4F2\n" + end) << 1
                                    << "a.hex line 1: 'G' is not a hex digit";
        const QByteArray s1 = "S107000001020304EE\n", s9 = "S9030000FC\n";
        QTest::newRow("srec checksum") << "b.s19" << QByteArray("S107000001020304EF\n" + s9) << 1
                                       << "b.s19 line 1: checksum 0xEF, expected 0xEE";
        QTest::newRow("srec byte count") << "b.s19" << QByteArray("S108000001020304EE\n" + s9) << 1
                                         << "b.s19 line 1: byte count 0x08, but 7 bytes follow it";
        QTest::newRow("srec without end") << "b.s19" << s1 << 0
                                          << "b.s19: no S7, S8 or S9 termination record: the file is truncated";
        QTest::newRow("srec S5 count") << "b.s19" << QByteArray(s1 + "S5030002FA\n" + s9) << 2
                                       << "b.s19 line 2: S5 counts 2 data records, but 1 came before it";
        QTest::newRow("srec past 0xFFFFFFFF") << "b.s37" << QByteArray("S309FFFFFFFD01020304F2\nS70500000000FA\n") << 1
                                              << "b.s37 line 1: record at 0xFFFFFFFD runs past 0xFFFFFFFF";
        QTest::newRow("srec disagreeing overlap") << "b.s19" << QByteArray(s1 + "S1050002FFFFFA\n" + s9) << 2
                                                  << "b.s19 line 2: data at 0x00000002 is 0xFF here but 0x03 on line 1";
        QTest::newRow("srec S4") << "b.s19" << QByteArray("S4030000FC\n" + s9) << 1
                                 << "b.s19 line 1: not an S0-S3 or S5-S9 record";
    }

    void refusesBrokenText()
    {
        QFETCH(QString, file);
        QFETCH(QByteArray, text);
        const ImageResult result = ReadImage(text, file, DetectFormat(file, text), 0);
        QTEST(result.error, "error");
        QTEST(result.line, "line");
        QVERIFY(result.image.IsEmpty());
    }

    void refusesBadElf_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("reason");
        QTest::newRow("64-bit") << "host64.elf" << "not a 32-bit ELF file";
        QTest::newRow("big-endian") << "tiny-be.elf" << "not a little-endian ELF file";
        QTest::newRow("i386") << "host32.elf" << "ELF file for machine 3, not ARM (40)";
        QTest::newRow("object file") << "tiny.o" << "no loadable bytes";
        QTest::newRow("cut in a segment") << "tiny-cut.elf" << "segment 0 runs past the end of the file";
        QTest::newRow("cut in the header") << "tiny-head.elf" << "header is cut short";
        QTest::newRow("disagreeing segments") << "clash.elf" << "segment 1 disagrees with segment 0 at 0x08000000";
    }

    void refusesBadElf()
    {
        QFETCH(QString, file);
        QFETCH(QString, reason);
        const ImageResult result = ReadElf(DataFile(file), file);
        QVERIFY2(result.error.startsWith(file + ": ") && result.error.contains(reason), qPrintable(result.error));
    }

    void writesFiles_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<ImageFormat>("format");
        QTest::addColumn<int>("bytesPerLine");
        for (const char *file : {"gaps.s37", "top.hex", "tiny.elf"}) {
            QTest::addRow("%s to ihex/16", file) << file << ImageFormat::IntelHex << 16;
            QTest::addRow("%s to ihex/32", file) << file << ImageFormat::IntelHex << 32;
            QTest::addRow("%s to srec/16", file) << file << ImageFormat::SRecord << 16;
        }
    }

    // Ours back into ours, with lines as long as asked for.
    void writesFiles()
    {
        QFETCH(QString, file);
        QFETCH(ImageFormat, format);
        QFETCH(int, bytesPerLine);
        const FirmwareImage image = ReadDataFile(file).image;
        const QByteArray text = Write(image, format, bytesPerLine);
        const ImageResult back = ReadImage(text, QStringLiteral("ours"), format, 0);
        QVERIFY2(back.Ok(), qPrintable(back.error));
        QVERIFY(back.image == image);
        int longest = 0;
        for (const QByteArray &line : text.split('\n'))
            longest = qMax(longest, int(line.size()));
        QCOMPARE(longest, (format == ImageFormat::IntelHex ? 11 : 14) + 2 * bytesPerLine);
    }

    // Ours into srec_cat: the binary it makes is the image's bytes.
    void srecCatReadsOurFiles_data() { writesFiles_data(); }
    void srecCatReadsOurFiles()
    {
        const QString srecCat = QStandardPaths::findExecutable(QStringLiteral("srec_cat"));
        if (srecCat.isEmpty())
            QSKIP("srec_cat (Debian srecord) is not installed");
        QFETCH(QString, file);
        QFETCH(ImageFormat, format);
        QFETCH(int, bytesPerLine);
        const FirmwareImage image = ReadDataFile(file).image;
        QTemporaryDir dir;
        QFile ours(dir.filePath(QStringLiteral("ours")));
        QVERIFY(ours.open(QIODevice::WriteOnly) && ours.write(Write(image, format, bytesPerLine)) > 0);
        ours.close();
        const QString low = QStringLiteral("-0x%1").arg(image.LowestAddress(), 0, 16);
        const QString out = dir.filePath(QStringLiteral("out.bin"));
        QCOMPARE(QProcess::execute(srecCat, {ours.fileName(), format == ImageFormat::IntelHex ? "-intel" : "-motorola",
                                             "-offset", low, "-o", out, "-binary"}), 0);
        QFile binary(out);
        QVERIFY(binary.open(QIODevice::ReadOnly));
        const int span = int(image.HighestAddress() - image.LowestAddress() + 1);
        QCOMPARE(binary.readAll(), image.Bytes(image.LowestAddress(), span, '\0'));
    }

    void detectsFormats_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<ImageFormat>("read");
        QTest::addColumn<ImageFormat>("saved");
        const QByteArray elf("\x7F" "ELF\x01\x01", 6);
        QTest::newRow(".HEX") << "fw.HEX" << QByteArray("S0") << ImageFormat::IntelHex << ImageFormat::IntelHex;
        QTest::newRow(".ihx") << "fw.ihx" << QByteArray() << ImageFormat::IntelHex << ImageFormat::IntelHex;
        QTest::newRow(".s28") << "fw.s28" << QByteArray(":") << ImageFormat::SRecord << ImageFormat::SRecord;
        QTest::newRow(".mot") << "a/fw.v2.mot" << QByteArray() << ImageFormat::SRecord << ImageFormat::SRecord;
        QTest::newRow(".axf") << "fw.axf" << QByteArray() << ImageFormat::Elf << ImageFormat::Raw;
        QTest::newRow(".bine over content") << "fw.bine" << elf << ImageFormat::Raw << ImageFormat::Raw;
        QTest::newRow("':' first") << "dump" << QByteArray(":1000") << ImageFormat::IntelHex << ImageFormat::Raw;
        QTest::newRow("'S7' first") << "dump.txt" << QByteArray("S7") << ImageFormat::SRecord << ImageFormat::Raw;
        QTest::newRow("'Sx' first") << "dump.txt" << QByteArray("Sx") << ImageFormat::Raw << ImageFormat::Raw;
        QTest::newRow("ELF magic") << "firmware" << elf << ImageFormat::Elf << ImageFormat::Raw;
        QTest::newRow("anything else") << "fw.dat" << QByteArray("\x00\x20", 2) << ImageFormat::Raw << ImageFormat::Raw;
    }

    void detectsFormats()
    {
        QFETCH(QString, file);
        QFETCH(QByteArray, content);
        QTEST(DetectFormat(file, content), "read");
        QTEST(OutputFormat(file), "saved");
    }

    void namesFormats()
    {
        const char *names[] = {"raw", "ihex", "srec", "elf"};
        ImageFormat format = ImageFormat::Elf;
        for (int i = 0; i < 4; ++i) {
            QVERIFY(ParseFormatName(QString::fromLatin1(names[i]).toUpper(), &format));
            QCOMPARE(format, ImageFormat(i));
        }
        QVERIFY(!ParseFormatName(QStringLiteral("hex"), &format));
    }

    // Data in falling address order joins up instead of counting one piece
    // a record; the limits hold for what a file adds, not for repeats.
    void buildsWithinLimits()
    {
        const QByteArray src = DataFile(QStringLiteral("src.bin"));
        ImageBuilder builder;
        for (int i = 70000; i-- > 0;)
            QCOMPARE(builder.Add(quint32(i) * 16, src.mid(i % 50 * 16, 16)), ImageBuilder::Added);
        QCOMPARE(builder.Add(0x10, src.mid(16, 16)), ImageBuilder::Added);
        FirmwareImage image = builder.Finish();
        QCOMPARE(image.Segments().size(), 1);
        QCOMPARE(image.Bytes(1000 * 16 - 8, 32, 'x'), src.mid(49 * 16 + 8, 8) + src.left(24));
        QCOMPARE(builder.Add(0, QByteArray(ImageBuilder::MaxBytes, 'a')), ImageBuilder::Added);
        QCOMPARE(builder.Add(0, "aa"), ImageBuilder::Added);
        QCOMPARE(builder.Add(ImageBuilder::MaxBytes - 1, "aa"), ImageBuilder::TooManyBytes);
        QCOMPARE(builder.Add(0xFFFFFFFF, "aa"), ImageBuilder::PastEnd);
        builder.Finish();
        for (quint32 i = 0; i < ImageBuilder::MaxPieces; ++i)
            QCOMPARE(builder.Add(i * 2, "b"), ImageBuilder::Added);
        QCOMPARE(builder.Add(0xFFFFFFFF, "b"), ImageBuilder::TooManyPieces);
        QCOMPARE(builder.Add(1, "b"), ImageBuilder::Added);
    }
};

QTEST_GUILESS_MAIN(TestImageFiles)
#include "tst_imagefiles.moc"
