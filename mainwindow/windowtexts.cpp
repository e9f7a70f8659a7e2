#include "windowtexts.h"

#include "devicelink.h"
#include "differences.h"

#include <QCoreApplication>
#include <QLocale>

namespace {

QString Seconds(qint64 elapsedMs)
{
    return QLocale().toString(double(elapsedMs) / 1000.0, 'f', 1);
}

} // namespace

QString JobStatusText(const JobReport &report)
{
    const QString seconds = Seconds(report.elapsedMs);
    if (report.status == JobOutcome::Done && report.skipUnchanged) {
        return QCoreApplication::translate("MainWindow",
                                           "Записано и проверено %1 байт за %2 с, страниц без изменений: %3")
            .arg(report.size).arg(seconds).arg(report.pagesSkipped);
    }
    if (report.status == JobOutcome::Done) {
        return QCoreApplication::translate("MainWindow", "Записано и проверено %1 байт за %2 с")
            .arg(report.size).arg(seconds);
    }
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

namespace {

QString VerifyStatusText(const CheckReport &report, const QString &seconds)
{
    if (report.status == JobOutcome::Done) {
        return QCoreApplication::translate("MainWindow", "Проверено %1 байт за %2 с: данные совпадают")
            .arg(report.size).arg(seconds);
    }
    if (report.mismatch) {
        return QCoreApplication::translate("MainWindow",
                                           "Проверка за %1 с: отличаются %2 байт в %3 диапазонах, первый с адреса %4")
            .arg(seconds).arg(report.differingBytes).arg(report.differingRanges)
            .arg(AddressText(report.mismatchAddress));
    }
    const QString text = report.status == JobOutcome::Cancelled
        ? QCoreApplication::translate("MainWindow", "Проверка прервана через %1 с: проверено байт %2 из %3")
        : QCoreApplication::translate("MainWindow", "Проверка не удалась через %1 с: проверено байт %2 из %3");
    return text.arg(seconds).arg(report.done).arg(report.size);
}

QString ReadStatusText(const CheckReport &report, const QString &seconds)
{
    if (report.status == JobOutcome::Done && !report.file.isEmpty()) {
        return QCoreApplication::translate("MainWindow", "Прочитано %1 байт за %2 с и сохранено в %3")
            .arg(report.size).arg(seconds, report.file);
    }
    if (report.status == JobOutcome::Done) {
        return QCoreApplication::translate("MainWindow", "Прочитано %1 байт за %2 с, файл не записан")
            .arg(report.size).arg(seconds);
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
