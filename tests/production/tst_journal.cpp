// The journal against a real SQLite store. The processes that leave journals behind are this program too, started
// as "tst_journal --write FOLDER STORE STEPS": it journals the steps, then ends as the last one says: exit (its
// records waiting), die (at once, as if killed) or live (until its standard input closes).

#include "jobrecord.h"
#include "journal.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cstdlib>
#include <cstdio>

namespace {

// Job "a" holds number 1 of pool P, "b" number 2, ...; every field told
// apart by the tag, so that one lost on the way shows.
JobRecord Job(const QString &tag, const QString &result)
{
    const int n = tag.at(0).unicode() - 'a' + 1;
    JobFacts facts{"job-" + tag, "st", "tty" + tag, "/dev/serial/by-path/" + tag, "write", "/img/" + tag,
                   QByteArray(64, char('0' + n)), quint32(n), "P", n, n % 2 == 1, result == "ok" ? 0 : 6, result,
                   result == "ok" ? "" : "verify", JobOutcome{}, n / 4.0};
    facts.outcome->status = result == "ok" ? JobOutcome::Done : JobOutcome::Failed;
    std::tie(facts.outcome->address, facts.outcome->bytesWritten, facts.outcome->pagesErased,
             facts.outcome->pagesWritten, facts.outcome->pagesSkipped) = std::tuple(0x8003000 + n, n << 20, n, n + 1, n + 2);
    return MakeJobRecord(facts, QDateTime::fromString("2026-03-01T10:00:00.000Z", Qt::ISODateWithMs));
}

QString Fields(const JobRecord &r)
{
    return QStringList{r.jobId, r.time.toString(Qt::ISODateWithMs), r.station, r.port, r.portPath, r.version,
                       r.command, r.image, r.sha256, r.crc32, r.pool, QString::number(r.serial), QString::number(r.rework),
                       r.resultClass, QString::number(r.exitCode), r.pass, r.address ? QString::number(*r.address) : "-",
                       QString::number(r.seconds), QString::number(r.bytesWritten), QString::number(r.pagesErased),
                       QString::number(r.pagesWritten), QString::number(r.pagesSkipped)}.join(' ');
}

int Write(const QString &folder, const QString &store, const QString &steps)
{
    Journal journal;
    if (!journal.Open(folder, store).isEmpty())
        return 2;
    for (const QString &step : steps.split("; ")) {
        const QStringList words = step.split(' ');
        if (words[0] == "begin")
            journal.Begin(Job(words[1], QString()));
        else if (words[0] == "end")
            journal.End(Job(words[1], words[2]), words[3] == "free" ? SerialState::Free : SerialState::Committed);
        else if (words[0] == "die")
            std::_Exit(9);    // no destructor runs, no lock is let go: as a kill
        else if (words[0] == "live")
            std::puts("ready"), std::fflush(stdout), std::getchar();
    }
    return 0;
}

} // namespace

class TestJournal : public QObject
{
    Q_OBJECT

private slots:
    // writer: a process's steps; before: "commit a" (the store took a's record, its process died before the mark),
    // "closed" (a delivery first finds the store closed) or "elsewhere" (the writer journals for another store);
    // stored: tag:class:number state of each job stored, in order, nothing left waiting that the store could take.
    void deliver_data()
    {
        QTest::addColumn<QString>("writer");
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("stored");
        const QString ended = "begin a; end a ok committed; ";
        QTest::newRow("a journal left at exit, every field kept") << ended + "exit" << "" << "a:ok:committed";
        QTest::newRow("in the order the jobs ended") << "begin a; begin b; begin c; end c ok committed; end a mismatch free; "
            "end b ok committed; exit" << "" << "c:ok:committed a:mismatch:free b:ok:committed";
        QTest::newRow("taken by the store before its process died: once") << ended + "die" << "commit a" << "a:ok:committed";
        QTest::newRow("kept while the store cannot take it") << ended + "exit" << "closed" << "a:ok:committed";
        QTest::newRow("a job its process died in: killed, its number in doubt") << "begin a; begin b; end b ok committed; die"
            << "" << "b:ok:committed a:killed:reserved";
        QTest::newRow("another store's records wait for it") << ended + "exit" << "elsewhere" << "";
        QTest::newRow("a running process's journal is its own") << ended + "live" << "" << "";
    }
    void deliver()
    {
        QFETCH(QString, writer);
        QFETCH(QString, before);
        QFETCH(QString, stored);
        QTemporaryDir dir;
        const QString folder = dir.filePath("journal"), name = "sqlite:" + dir.filePath("store.sqlite");
        RecordStore store, closed;
        QCOMPARE(store.Open(ParseStoreAddress(name).value).error, QString());
        for (const QString tag : {"a", "b", "c"})
            QCOMPARE(store.Reserve("P", 1, "st", "tty" + tag, "job-" + tag).value, Job(tag, "ok").serial);
        QProcess process;
        process.start(QCoreApplication::applicationFilePath(), {"--write", folder, before == "elsewhere" ? "sqlite:/elsewhere" : name, writer});
        QVERIFY(writer.endsWith("live") ? process.waitForReadyRead(10000) : process.waitForFinished(10000));
        if (before == "commit a")
            QCOMPARE(store.Finish(Job("a", "ok"), SerialState::Committed).error, QString());
        const auto check = [&](const QString &expected) {
            Journal journal;
            QCOMPARE(journal.Open(folder, name), QString());
            const JournalDelivery none = before == "closed" ? journal.Deliver(closed) : JournalDelivery{{}, 1, {}, {}};
            QVERIFY(none.delivered.isEmpty() && none.waiting == 1);
            QCOMPARE(journal.Deliver(store).waiting, 0);
            QStringList got;
            for (const JobRecord &job : store.Jobs({}).value) {
                const QString tag = job.jobId.mid(4), state = SerialStateName(*store.StateOf("P", job.serial).value);
                const bool killed = job.resultClass == "killed";
                QCOMPARE(Fields(job), Fields(killed ? KilledRecord(Job(tag, QString())) : Job(tag, job.resultClass)));
                got << QStringLiteral("%1:%2:%3").arg(tag, job.resultClass, state);
            }
            QCOMPARE(got.join(' '), expected);
        };
        check(stored);
        if (writer.endsWith("live")) {
            process.closeWriteChannel();
            QVERIFY(process.waitForFinished(10000));
            check("a:ok:committed");
        }
        // Journals are left only where records wait.
        QCOMPARE(QDir(folder).entryList({"*.journal"}).size(), before == "elsewhere" ? 1 : 0);
    }
};

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (app.arguments().value(1) == "--write")
        return Write(app.arguments().value(2), app.arguments().value(3), app.arguments().value(4));
    TestJournal test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_journal.moc"
