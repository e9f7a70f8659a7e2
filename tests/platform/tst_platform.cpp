#include "filesync.h"
#include "ports.h"

#include <QFile>
#include <QOperatingSystemVersion>
#include <QTemporaryDir>
#include <QtTest>

namespace {

bool OnWindows()
{
    return QOperatingSystemVersion::currentType() == QOperatingSystemVersion::Windows;
}

} // namespace

class TestPlatform : public QObject
{
    Q_OBJECT

private slots:
    void sameDevice_data();
    void sameDevice();
    void syncToDisk();

private:
    QTemporaryDir dir;
};

// Two names of one device must meet, or two jobs run on it at once; two
// devices must stay apart, or a station refuses a line it should run.
void TestPlatform::sameDevice_data()
{
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::addColumn<bool>("same");
    if (OnWindows()) {
        QTest::newRow("case") << "com7" << "COM7" << true;
        QTest::newRow("device namespace") << "\\\\.\\COM12" << "COM12" << true;
        QTest::newRow("two ports") << "COM1" << "COM10" << false;
        return;
    }
    QFile device(dir.path() + QStringLiteral("/ttyX"));
    QVERIFY(device.open(QIODevice::WriteOnly));
    QVERIFY(QFile::link(device.fileName(), dir.path() + QStringLiteral("/by-id")));
    QTest::newRow("bare name in /dev") << "ttyS0" << "/dev/ttyS0" << true;
    QTest::newRow("symbolic link") << device.fileName() << (dir.path() + QStringLiteral("/by-id")) << true;
    QTest::newRow("dots in the path") << device.fileName() << (dir.path() + QStringLiteral("/./x/../ttyX")) << true;
    QTest::newRow("two ports") << "/dev/ttyUSB1" << "/dev/ttyUSB10" << false;
}

void TestPlatform::sameDevice()
{
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(bool, same);
    QCOMPARE(SerialDevice(first) == SerialDevice(second), same);
}

// What a journal or log line was told is kept must be on the disk; a
// handle that is not a file's must say why it is not.
void TestPlatform::syncToDisk()
{
    QFile file(dir.filePath(QStringLiteral("journal")));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
    QCOMPARE(file.write("begun\n"), qint64(6));
    QCOMPARE(SyncToDisk(file), QString());
    file.close();
    QVERIFY(!SyncToDisk(file).isEmpty());
}

QTEST_GUILESS_MAIN(TestPlatform)
#include "tst_platform.moc"
