#include "windowtexts.h"

#include "devicelink.h"
#include "differences.h"
#include "passrate.h"

#include <QCoreApplication>
#include <QLocale>

#include <climits>

namespace {

QString Seconds(qint64 elapsedMs)
{
    return QLocale().toString(double(elapsedMs) / 1000.0, 'f', 1);
}

// Counts take their word's plural form from the translation, Russian's
// three included: one message per count.
QString Counted(const char *text, qint64 count)
{
    return QCoreApplication::translate("MainWindow", text, nullptr, int(qMin<qint64>(count, INT_MAX)));
}

} // namespace

bool NothingWritten(const JobReport &report)
{
    return report.status == JobOutcome::Done && report.skipUnchanged && report.pagesErased == 0
        && report.bytesWritten == 0;
}

QString JobStatusText(const JobReport &report)
{
    const QString seconds = Seconds(report.elapsedMs);
    if (NothingWritten(report))
        return JobDoneText(report);
    if (report.status == JobOutcome::Done && report.skipUnchanged) {
        const QString done = Counted(QT_TRANSLATE_N_NOOP("MainWindow", "Записано и проверено %n байт за %1 с"),
                                     report.size).arg(seconds);
        return Counted(QT_TRANSLATE_N_NOOP("MainWindow", "%1, страниц без изменений: %n"), report.pagesSkipped)
            .arg(done);
    }
    if (report.status == JobOutcome::Done)
        return Counted(QT_TRANSLATE_N_NOOP("MainWindow", "Записано и проверено %n байт за %1 с"), report.size).arg(seconds);
    const QString text = report.status == JobOutcome::Cancelled
        ? QCoreApplication::translate("MainWindow",
                                      "Запись прервана через %1 с: стёрто страниц %2 из %3, "
                                      "записано байт %4 из %5")
        : QCoreApplication::translate("MainWindow",
                                      "Запись не удалась через %1 с: стёрто страниц %2 из %3, "
                                      "записано байт %4 из %5");
    return text.arg(seconds).arg(report.pagesErased).arg(report.pages).arg(report.bytesWritten)
        .arg(report.size);
}

// A write that found every page holding the image already changed
// nothing, and says so rather than claim a write.
QString JobDoneText(const JobReport &report)
{
    if (NothingWritten(report))
        return QCoreApplication::translate("MainWindow", "Устройство уже содержит образ: ничего не записано");
    return QCoreApplication::translate("MainWindow", "Данные успешно записаны");
}

QString DifferingText(qint64 bytes, int ranges)
{
    return QStringLiteral("%1 %2").arg(Counted(QT_TRANSLATE_N_NOOP("MainWindow", "отличаются %n байт"), bytes),
                                       Counted(QT_TRANSLATE_N_NOOP("MainWindow", "в %n диапазонах"), ranges));
}

namespace {

QString VerifyStatusText(const CheckReport &report, const QString &seconds)
{
    if (report.status == JobOutcome::Done) {
        return Counted(QT_TRANSLATE_N_NOOP("MainWindow", "Проверено %n байт за %1 с: данные совпадают"), report.size)
            .arg(seconds);
    }
    if (report.mismatch) {
        return QCoreApplication::translate("MainWindow", "Проверка за %1 с: %2, первый с адреса %3")
            .arg(seconds, DifferingText(report.differingBytes, report.differingRanges),
                 AddressText(report.mismatchAddress));
    }
    const QString text = report.status == JobOutcome::Cancelled
        ? QCoreApplication::translate("MainWindow", "Проверка прервана через %1 с: проверено байт %2 из %3")
        : QCoreApplication::translate("MainWindow", "Проверка не удалась через %1 с: проверено байт %2 из %3");
    return text.arg(seconds).arg(report.done).arg(report.size);
}

QString ReadStatusText(const CheckReport &report, const QString &seconds)
{
    if (report.status == JobOutcome::Done && !report.file.isEmpty()) {
        return Counted(QT_TRANSLATE_N_NOOP("MainWindow", "Прочитано %n байт за %1 с и сохранено в %2"), report.size)
            .arg(seconds, report.file);
    }
    if (report.status == JobOutcome::Done) {
        return Counted(QT_TRANSLATE_N_NOOP("MainWindow", "Прочитано %n байт за %1 с, файл не записан"), report.size)
            .arg(seconds);
    }
    // A backup cut short is never saved: it would pass for a whole one.
    const QString text = report.status == JobOutcome::Cancelled
        ? QCoreApplication::translate("MainWindow",
                                      "Чтение прервано через %1 с: прочитано байт %2 из %3, файл не записан")
        : QCoreApplication::translate("MainWindow",
                                      "Чтение не удалось через %1 с: прочитано байт %2 из %3, файл не записан");
    return text.arg(seconds).arg(report.done).arg(report.size);
}

} // namespace

QString CheckStatusText(const CheckReport &report)
{
    const QString seconds = Seconds(report.elapsedMs);
    return report.pass == JobPass::Verify ? VerifyStatusText(report, seconds) : ReadStatusText(report, seconds);
}

QString RateText(JobPass pass, qint64 done, qint64 maximum, qint64 elapsedNs)
{
    const double perSecond = PassRate::PerSecond(done, elapsedNs);
    const QString speed = pass == JobPass::Erase || pass == JobPass::Compare
        ? QCoreApplication::translate("MainWindow", "%1 стр./с").arg(QLocale().toString(perSecond, 'f', 1))
        : QCoreApplication::translate("MainWindow", "%1 кБ/с").arg(QLocale().toString(perSecond / 1024.0, 'f', 1));
    const qint64 left = PassRate::SecondsLeft(done, maximum, elapsedNs);
    if (left < 0)
        return speed;
    const QString clock = QStringLiteral("%1:%2").arg(left / 60).arg(left % 60, 2, 10, QLatin1Char('0'));
    return QCoreApplication::translate("MainWindow", "%1, осталось %2").arg(speed, clock);
}

QString OpenFailureText(const QString &port, const QString &reason, PortRefusal refusal,
                        const QString &group)
{
    QString text = QCoreApplication::translate("MainWindow", "Не удается открыть порт %1:\n%2").arg(port, reason);
    if (refusal == PortRefusal::InUse) {
        text += QStringLiteral("\n\n")
            + QCoreApplication::translate("MainWindow",
                                          "Порт, видимо, уже открыт другой программой: "
                                          "закройте ее и подключитесь снова.");
    }
    // Serial devices belong to a group where the system has them; a user
    // outside it is refused.
    if (refusal == PortRefusal::NoAccess && !group.isEmpty()) {
        text += QStringLiteral("\n\n")
            + QCoreApplication::translate("MainWindow",
                                          "Нет прав на порт. Добавьте пользователя в группу %1:\n"
                                          "sudo usermod -aG %1 $USER\n"
                                          "и войдите в систему заново.")
                  .arg(group);
    }
    return text;
}

// A device that keeps talking unasked may be another device on the wrong
// port, so the advice that follows fits it too.
QString NoAnswerText(const QString &port, int baud, int result)
{
    QString what;
    if (result == LinkOutOfTurn)
        what = QCoreApplication::translate("MainWindow", "Устройство продолжает передавать без запроса")
            + QStringLiteral(" (%1).");
    else if (result == LinkBadReply)
        what = QCoreApplication::translate("MainWindow", "Прибор на порту %1 ответил, но ответ не удается разобрать.");
    else
        what = QCoreApplication::translate("MainWindow", "Прибор на порту %1 не отвечает.");
    return what.arg(port) + QStringLiteral("\n\n")
        + QCoreApplication::translate("MainWindow",
                                      "Проверьте, что выбран порт прибора, скорость %1 бод совпадает "
                                      "со скоростью загрузчика и на прибор подано питание.")
              .arg(baud);
}
