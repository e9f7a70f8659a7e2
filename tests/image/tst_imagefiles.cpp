// Image files made by real tools (data/make.sh: srec_cat, GNU binutils) read
// into the bytes those tools put there; broken files refused with line and
// reason; our own files, backups among them, read back by us and by srec_cat.

#include "elf32reader.h"
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
        QTest::newRow("S37 ending in its S5 count") << "gaps-count.s37" << 0x0800FF80u << "src-gap.bin" << 2 << 872;
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
        QCOMPARE(WriteImage(result.image, ImageFormat::Raw, '\0').bytes, bytes);
        for (int i = 0; i + 2 <= bytes.size(); ++i)  // from every address, the last of a segment too
            QCOMPARE(result.image.Bytes(base + uint(i), 2, '\0'), bytes.mid(i, 2));

        // Ours, 7 bytes a line so that lines meet 64 KiB boundaries, back
        // into ours and into srec_cat, whose binary fills gaps with zeros.
        QTemporaryDir dir;
        const QString hex = dir.filePath(QStringLiteral("ours.hex")), srec = dir.filePath(QStringLiteral("ours.s37"));
        for (const QString &path : {hex, srec}) {
            const bool isHex = path == hex;
            const QByteArray text = isHex ? WriteIntelHex(result.image, 7) : WriteSRecord(result.image, "tamrivo", 7);
            const ImageResult back = ReadImage(text, path, isHex ? ImageFormat::IntelHex : ImageFormat::SRecord, 0);
            QVERIFY2(back.Ok() && back.image == result.image, qPrintable(back.error));
            int longest = 0;
            for (const QByteArray &line : text.split('\n'))
                longest = qMax(longest, int(line.size()));
            QCOMPARE(longest, (isHex ? 11 : 14) + 2 * 7);
            QVERIFY(isHex || text.endsWith("S70500000000FA\n"));  // S7 last, for tools that want one
            QFile ours(path);
            QVERIFY(ours.open(QIODevice::WriteOnly) && ours.write(text) == text.size());
        }
        const QString srecCat = QStandardPaths::findExecutable(QStringLiteral("srec_cat"));
        if (srecCat.isEmpty())
            QSKIP("srec_cat (Debian srecord) is not installed");
        const QString out = dir.filePath(QStringLiteral("out.bin")), low = QStringLiteral("-0x%1").arg(base, 0, 16);
        for (const QString &path : {hex, srec}) {
            QCOMPARE(QProcess::execute(srecCat, {path, path == hex ? "-intel" : "-motorola", "-offset", low, "-o", out,
                                                 "-binary"}), 0);
            QFile binary(out);
            QVERIFY(binary.open(QIODevice::ReadOnly));
            QCOMPARE(binary.readAll(), bytes);
        }
    }

    // A file read whole into data (from address 0) or refused with line
    // and reason.
    void readsOrRefuses_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("line");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QByteArray>("data");
        const auto row = [](const char *name, const QString &file, const QByteArray &text, int line, const QString &error,
                            const QByteArray &data = QByteArray()) {
            QTest::newRow(name) << file << text << line << error << data;
        };
        const QByteArray record = ":0400000001020304F2\n", end = ":00000001FF\n";
        row("ihex checksum", "a.hex", ":0400000001020304F3\n" + end, 1, "a.hex line 1: checksum 0xF3, expected 0xF2");
        row("ihex byte count", "a.hex", record + ":04001000AABB", 2,
            "a.hex line 2: byte count 0x04, but the record holds 1 data bytes");
        row("ihex without end", "a.hex", record, 0, "a.hex: no end-of-file record: the file is truncated");
        row("ihex disagreeing overlap", "a.hex",
            ":04001000AABBCCDDDE\n" + record + "\n:04002000AABBCCDDCE\n:02000200FFFFFE\n" + end, 5,
            "a.hex line 5: data at 0x00000002 is 0xFF here but 0x03 on line 2");
        row("ihex past 0xFFFFFFFF", "a.hex", ":02000004FFFFFC\n:04FFFD0001020304F6\n" + end, 2,
            "a.hex line 2: record at 0xFFFFFFFD runs past 0xFFFFFFFF");
        row("ihex after the end", "a.hex", end + "\r\n" + record, 3, "a.hex line 3: text after the end-of-file record");
        row("ihex 04 length", "a.hex", ":03000004000000F9\n" + end, 1,
            "a.hex line 1: a type 0x04 record holds 3 data bytes, not 2");
        row("ihex digit", "a.hex", ":04000000010203G4F2\n" + end, 1, "a.hex line 1: 'G' is not a hex digit");
        const QByteArray s1 = "S107000001020304EE\n", s5 = "S5030001FB\n", s9 = "S9030000FC\n";
        const QByteArray more = "S107000405060708DA\n", both = QByteArray::fromHex("0102030405060708");
        const QString truncated = "b.s19: no S7, S8 or S9 termination record and no S5/S6 count at its end: the file is truncated";
        row("srec ending in S5", "b.s19", s1 + s5, 0, QString(), both.left(4));
        row("srec ending in S6, lower case", "b.s19", s1 + more + "S604000002f9\n", 0, QString(), both);
        row("srec data after S5, then S9", "b.s19", s1 + s5 + more + s9, 0, QString(), both);
        row("srec data after S5", "b.s19", s1 + s5 + more, 0, truncated);
        row("srec without end", "b.s19", s1, 0, truncated);
        row("srec S5 count", "b.s19", s1 + "S5030002FA\n", 2, "b.s19 line 2: S5 counts 2 data records, but 1 came before it");
        row("srec after the end", "b.s19", s1 + s9 + more, 3, "b.s19 line 3: text after the termination record");
        row("srec checksum", "b.s19", "S107000001020304EF\n" + s9, 1, "b.s19 line 1: checksum 0xEF, expected 0xEE");
        row("srec byte count", "b.s19", "S108000001020304EE\n" + s9, 1, "b.s19 line 1: byte count 0x08, but 7 bytes follow it");
        row("srec past 0xFFFFFFFF", "b.s37", "S309FFFFFFFD01020304F2\nS70500000000FA\n", 1,
            "b.s37 line 1: record at 0xFFFFFFFD runs past 0xFFFFFFFF");
        row("srec disagreeing overlap", "b.s19", s1 + "S1050002FFFFFA\n" + s9, 2,
            "b.s19 line 2: data at 0x00000002 is 0xFF here but 0x03 on line 1");
        row("srec S4", "b.s19", "S4030000FC\n" + s9, 1, "b.s19 line 1: not an S0-S3 or S5-S9 record");
        for (const auto &[file, reason] : std::initializer_list<std::pair<const char *, const char *>>{
                 {"host64.elf", "not a 32-bit ELF file (class 2): only 32-bit ARM images can be flashed"},
                 {"tiny-be.elf", "not a little-endian ELF file: only little-endian ARM images can be flashed"},
                 {"host32.elf", "ELF file for machine 3, not ARM (40)"},
                 {"tiny.o", "no loadable bytes: no PT_LOAD segment holds file data"},
                 {"tiny-cut.elf", "segment 0 runs past the end of the file: the file is truncated"},
                 {"tiny-head.elf", "not an ELF file, or its header is cut short"},
                 {"clash.elf", "segment 1 disagrees with segment 0 at 0x08000000"}})
            row(file, file, DataFile(file), 0, QStringLiteral("%1: %2").arg(file, reason));
    }

    void readsOrRefuses()
    {
        QFETCH(QString, file);
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, data);
        const ImageResult result = ReadImage(text, file, DetectFormat(file, text), 0);
        QTEST(result.error, "error");
        QTEST(result.line, "line");
        QCOMPARE(result.image.Bytes(0, data.size(), '\0'), data);
        QCOMPARE(result.image.ByteCount(), qint64(data.size()));
        if (DetectFormat(file, text) == ImageFormat::Elf)  // the same words from our own ELF reader
            QTEST(ReadElf32(text, file).error, "error");
    }

    // Our own ELF reader against libelf (ReadElf where the system has it)
    // over files made by the ARM tools, cut short at every length and with
    // header bytes mangled: the same image, or a refusal from both.
    void elfReadersAgree_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("variants");
        QTest::addColumn<bool>("someRead");  // some variants are images
        for (const auto &[file, cutRead, mangledRead] : std::initializer_list<std::tuple<const char *, bool, bool>>{
                 {"tiny.elf", true, true}, {"app.elf", true, true}, {"clash.elf", false, true}, {"tiny.o", false, false},
                 {"tiny-be.elf", false, false}, {"host32.elf", false, false}, {"host64.elf", false, false}}) {
            QTest::addRow("%s cut", file) << file << "cut" << cutRead;
            QTest::addRow("%s mangled", file) << file << "mangled" << mangledRead;
        }
        QTest::newRow("tiny.elf, program header count in section 0") << "tiny.elf" << "count in section 0" << true;
        QTest::newRow("tiny.elf, program headers last in the file") << "tiny.elf" << "headers last" << true;
    }

    void elfReadersAgree()
    {
        QFETCH(QString, file);
        QFETCH(QString, variants);
        const QByteArray whole = DataFile(file);
        QVector<QByteArray> tried;
        const auto set32 = [](QByteArray bytes, int at, quint32 value) {
            for (int i = 0; i < 4; ++i)
                bytes[at + i] = char(value >> 8 * i);
            return bytes;
        };
        if (variants == "cut") {
            for (int size = 0; size <= whole.size(); ++size)
                tried.append(whole.left(size));
        } else if (variants == "mangled") {  // file header and the first program headers
            for (int at = 0; at < qMin(whole.size(), 52 + 3 * 32); ++at) {
                for (const char value : {'\0', '\1', '\2', ' ', '\x7F', '\xFF'}) {
                    tried.append(whole);
                    tried.last()[at] = value;
                }
            }
        } else if (variants == "headers last") {  // the table ending where the file ends, and one byte short
            const QByteArray moved = set32(whole + whole.mid(52, 2 * 32), 28, quint32(whole.size()));
            tried = {moved, moved.chopped(1)};
        } else {  // e_phnum 0xFFFF: section 0's sh_info counts the headers
            const int shoff = uchar(whole[32]) | uchar(whole[33]) << 8;  // e_shoff, below 64 KiB here
            const QByteArray counted = QByteArray(whole).replace(44, 2, "\xFF\xFF");
            for (const quint32 info : {0u, 1u, 2u, 3u, 0x10000000u})
                tried.append(set32(counted, shoff + 28, info));
            tried.append(set32(counted, shoff + 28, 2).replace(48, 2, QByteArray(2, 0)));  // no sections
            tried.append(set32(counted, shoff + 28, 2).chopped(1));  // the section table cut short
            tried.append(set32(counted, 32, 0));
            tried.append(set32(counted, 32, quint32(whole.size()) - 39));
        }
        bool someRead = false;
        for (const QByteArray &bytes : tried) {
            const ImageResult theirs = ReadElf(bytes, file), ours = ReadElf32(bytes, file);
            QVERIFY2(ours.Ok() == theirs.Ok() && ours.image == theirs.image,
                     qPrintable(QStringLiteral("%1 bytes %2: \"%3\" against \"%4\"")
                                    .arg(bytes.size()).arg(QString::fromLatin1(bytes.left(64).toHex()), ours.error, theirs.error)));
            someRead = someRead || ours.Ok();
        }
        QTEST(someRead, "someRead");
    }

    // A backup reads back as the bytes at their flash addresses; one that
    // the readers would refuse is not written at all.
    void writesBackups_data()
    {
        QTest::addColumn<uint>("start");
        QTest::addColumn<int>("size");
        QTest::addColumn<ImageFormat>("format");
        QTest::addColumn<QString>("error");
        const QString pastEnd = "1000 bytes read at 0xFFFFFC19: data runs past address 0xFFFFFFFF";
        QTest::newRow("raw") << 0x08003000u << 1000 << ImageFormat::Raw << QString();
        QTest::newRow("ihex up to 0xFFFFFFFF") << 0xFFFFFC18u << 1000 << ImageFormat::IntelHex << QString();
        QTest::newRow("srec") << 0x08003000u << 1000 << ImageFormat::SRecord << QString();
        QTest::newRow("raw past 0xFFFFFFFF") << 0xFFFFFC19u << 1000 << ImageFormat::Raw << pastEnd;
        QTest::newRow("ihex past 0xFFFFFFFF") << 0xFFFFFC19u << 1000 << ImageFormat::IntelHex << pastEnd;
        QTest::newRow("srec over the readers' limit") << 0x08000000u << int(ImageBuilder::MaxBytes) + 1
                                                      << ImageFormat::SRecord
                                                      << "16777217 bytes read at 0x08000000: more than 16 MiB of data";
    }

    void writesBackups()
    {
        QFETCH(uint, start);
        QFETCH(int, size);
        QFETCH(ImageFormat, format);
        const QByteArray bytes = DataFile(QStringLiteral("src.bin")).repeated(size / 1000 + 1).left(size);
        const WriteResult backup = WriteFlashBytes(bytes, start, format);
        QTEST(backup.error, "error");
        const ImageResult back = ReadImage(backup.bytes, QStringLiteral("backup"), format, start);
        const QVector<ImageSegment> placed = {{start, bytes}};
        QVERIFY(back.image.Segments() == (backup.Ok() ? placed : QVector<ImageSegment>()));
    }

    // Raw fills the gaps (readsToolFiles) as far as MaxRawSpan; an empty
    // image makes an empty file, a refusal no file.
    void writesRawWithinSpan()
    {
        ImageBuilder builder;
        QCOMPARE(builder.Add(0x08000000, "a"), ImageBuilder::Added);
        QCOMPARE(builder.Add(0x08000000 + quint32(MaxRawSpan), "b"), ImageBuilder::Added);
        const FirmwareImage wide = builder.Finish();
        const WriteResult raw = WriteImage(wide, ImageFormat::Raw);
        QCOMPARE(raw.error, "0x08000000 to 0x18000000 is 268435457 bytes, more than a raw file of 256 MiB holds");
        QVERIFY(raw.bytes.isEmpty());
        QVERIFY(ReadIntelHex(WriteImage(wide, ImageFormat::IntelHex).bytes, "ours.hex").image == wide);
        const WriteResult empty = WriteImage(FirmwareImage(), ImageFormat::Raw);
        QVERIFY(empty.Ok() && empty.bytes.isEmpty());
    }

    void detectsFormats_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<ImageFormat>("read");
        QTest::addColumn<ImageFormat>("saved");
        const QByteArray elf("\x7F" "ELF\x01\x01", 6);
        QTest::newRow(".HEX") << "fw.HEX" << QByteArray("S0") << ImageFormat::IntelHex << ImageFormat::IntelHex;
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
        QFETCH(ImageFormat, read);
        QCOMPARE(DetectFormat(file, content), read);
        QTEST(OutputFormat(file), "saved");
        ImageFormat named = ImageFormat(-1);
        QVERIFY(ParseFormatName(FormatName(read).toUpper(), &named) && named == read);
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
