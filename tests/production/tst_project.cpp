// Project files read, refused and saved; the image guard fed images linked
// by the arm-none-eabi tools (tests/image/data/make.sh) and tables by hand.

#include "imagereaders.h"
#include "project.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

namespace {

// A version 1 project of the simulated loader's device, with extra text
// where a row puts it.
QByteArray Json(const QString &device, const QString &rest)
{
    return QStringLiteral(R"({"format": "tamrivo-project", "version": 1, "image": "a.bin", "sha256": "%1",
        "device": {"start": "0x08003000", "end": "0x0800ffff", "pageSize": 1024%2}%3})").arg(QString(64, 'a'), device, rest).toUtf8();
}

bool Put(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

class TestProject : public QObject
{
    Q_OBJECT

private slots:
    // text: a whole project when it starts with '{', else what goes after the
    // device's keys (before ';') and after the top keys.
    void load_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("error");
        QTest::newRow("defaults") << "" << "";
        QTest::newRow("not a project") << R"({"format": "other", "version": 1})" << "is not a project file";
        QTest::newRow("newer version") << R"({"format": "tamrivo-project", "version": 2})" << "is a version 2 project";
        QTest::newRow("unknown key") << R"(;, "pagesize": 1024)" << R"("pagesize" is not a key)";
        QTest::newRow("decimal address") << R"(, "start": "134230016")" << R"("device.start" must be an address in hex)";
        QTest::newRow("page size not a power of two") << R"(, "pageSize": 1536)" << R"("device.pageSize" must be a power)";
        QTest::newRow("start inside a page") << R"(, "start": "0x08003200")" << R"("device.start" must be a whole number)";
        QTest::newRow("end at the start") << R"(, "end": "0x08003000")" << R"("device.end" must lie above)";
        QTest::newRow("short SHA-256") << R"({"format": "tamrivo-project", "version": 1, "image": "a", "sha256": "ab"})"
                                       << R"("sha256" must be 64)";
        QTest::newRow("odd block size") << R"(;, "blockSize": 65)" << R"("blockSize" must be even)";
        QTest::newRow("block size past 248") << R"(;, "blockSize": 250)" << "from 64 to 248";
        QTest::newRow("flag as text") << R"(;, "skipUnchanged": "yes")" << "must be true or false";
        QTest::newRow("serial format") << R"(;, "serial": {"address": "0x08003400", "format": "le16"})" << R"("serial.format")";
        QTest::newRow("serial last below first") << R"(;, "serial": {"address": "0x0", "first": 2, "last": 1})" << R"("serial.last")";
        QTest::newRow("store with a password") << R"(;, "store": "postgresql://u:pw@h/db")" << R"("store" is refused)";
        QTest::newRow("backslashes") << R"({"format": "tamrivo-project", "version": 1, "image": "a\\b"})" << "forward slashes";
        QTest::newRow("station too long") << QStringLiteral(R"(;, "station": "%1")").arg(QString(65, 's')) << "1 to 64";
    }
    void load()
    {
        QFETCH(QString, text);
        QFETCH(QString, error);
        QTemporaryDir dir;
        const QStringList parts = text.split(';');
        QVERIFY(Put(dir.filePath("p"), text.startsWith('{') ? text.toUtf8() : Json(parts[0], parts.value(1))));
        Project project;
        const QString why = LoadProject(dir.filePath("p"), &project);
        QVERIFY2(error.isEmpty() ? why.isEmpty() : why.contains(error), qPrintable(why));
    }

    // Saved in one folder with the image in another, and read back as it was
    // given, the password gone (the last @ ends it) and the lock the image's own.
    void roundTrip()
    {
        QTemporaryDir dir;
        QVERIFY(Put(dir.filePath("img/a.bin"), QByteArray::fromHex("0050002009300008")) && QDir(dir.path()).mkpath("p"));
        Project given{dir.filePath("elsewhere.tamrivo"), "../" + QDir(dir.path() + "/..").relativeFilePath(dir.filePath("img/a.bin")),
                      "", Geometry{0x08003000, 0x0801ffff, 2048}, 248, true, false,
                      ProjectSerial{0x08003400, {SerialFormat::Decimal, 8, true}, "line-2", 100, 900, true},
                      "postgres://u:p@ss@h:5433/db", "bench 3"};
        QCOMPARE(SaveProject(dir.filePath("p/x.tamrivo"), given), QString());
        Project back;
        QCOMPARE(LoadProject(dir.filePath("p/x.tamrivo"), &back), QString());
        QCOMPARE(back.image, QStringLiteral("../img/a.bin"));
        QCOMPARE(back.sha256, QByteArray("f967a39a32ba75194a156df26ef4fa132e896929f39c102ed2af034a702006e0"));
        QCOMPARE(back.store, QStringLiteral("postgres://u@h:5433/db"));
        QVERIFY(back.geometry.end == 0x0801ffff && back.geometry.pageSize == 2048 && back.blockSize == 248 && back.skipUnchanged
                && !back.firstBlockLast && back.station == "bench 3" && back.serial && SerialFormatName(back.serial->format) == "dec8c"
                && back.serial->pool == "line-2" && back.serial->first == 100 && back.serial->last == 900 && back.serial->voidOnFail);
    }

    // file: an image of make.sh (a raw one placed at 0x08003000), else the
    // words of a vector table at 0x08003000 (stack pointer, reset handler)
    // and bytes up to 0x08003010 included.
    void vectorTable_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<quint32>("stack");
        QTest::addColumn<quint32>("reset");
        QTest::addColumn<QString>("problem");
        QTest::newRow("linked for the start") << "app-elf.bin" << 0u << 0u << "";
        QTest::newRow("linked for the flash base") << "tiny.bin" << 0u << 0u
            << "reset handler 0x08000009 lies below the start address 0x08003000: the image seems linked for 0x08000000";
        QTest::newRow("ELF holding nothing at the start") << "tiny.elf" << 0u << 0u << "";
        QTest::newRow("erased stack pointer") << "" << 0xffffffffu << 0x08003009u << "is erased flash";
        QTest::newRow("stack pointer unaligned") << "" << 0x20001ffeu << 0x08003009u << "not a multiple of 4";
        QTest::newRow("stack pointer at the start") << "" << 0x08003000u << 0x08003009u << "lies in the flash";
        QTest::newRow("reset handler even") << "" << 0x20002000u << 0x08003008u << "is even";
        QTest::newRow("reset handler on the last byte") << "" << 0x20002000u << 0x08003011u << "";
        QTest::newRow("reset handler past the image") << "" << 0x20002000u << 0x08003013u << "where the image programs nothing";
        QTest::newRow("reset handler below the flash") << "" << 0x20002000u << 0x07000001u << "linked for a lower address";
    }
    void vectorTable()
    {
        QFETCH(QString, file);
        QFETCH(quint32, stack);
        QFETCH(quint32, reset);
        QFETCH(QString, problem);
        QFile data(QStringLiteral(IMAGE_DATA_DIR "/") + file);
        QByteArray bytes = data.open(QIODevice::ReadOnly) ? data.readAll() : QByteArray(17, '\x5a');
        if (file.isEmpty()) {
            qToLittleEndian(stack, bytes.data());
            qToLittleEndian(reset, bytes.data() + 4);
        }
        const ImageResult image = ReadImage(bytes, file, DetectFormat(file, bytes), 0x08003000);
        QVERIFY2(image.Ok(), qPrintable(image.error));
        const QString why = VectorTableProblem(image.image, Geometry{0x08003000, 0x0800ffff, 1024});
        QVERIFY2(problem.isEmpty() ? why.isEmpty() : why.contains(problem), qPrintable(why));
    }
};

QTEST_GUILESS_MAIN(TestProject)
#include "tst_project.moc"
