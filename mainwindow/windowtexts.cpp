#include "windowtexts.h"

#include "devicelink.h"

#include <QCoreApplication>
#include <QLocale>

QString JobStatusText(const JobReport &report)
{
    const QString seconds = QLocale().toString(double(report.elapsedMs) / 1000.0, 'f', 1);
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
#ifdef Q_OS_LINUX
    // Serial devices belong to a group; a user outside it is refused.
    if (refusal == PortRefusal::NoAccess) {
        text += QStringLiteral("\n\n")
            + QCoreApplication::translate("MainWindow",
                                          "Нет прав на порт. Добавьте пользователя в группу %1:\n"
                                          "sudo usermod -aG %1 $USER\n"
                                          "и войдите в систему заново.")
                  .arg(group);
    }
#else
    Q_UNUSED(group)
#endif
    return text;
}

QString NoAnswerText(const QString &port, int baud, int result)
{
    const QString what = result == LinkBadReply
        ? QCoreApplication::translate("MainWindow", "Прибор на порту %1 ответил, но ответ не удается разобрать.")
        : QCoreApplication::translate("MainWindow", "Прибор на порту %1 не отвечает.");
    return what.arg(port) + QStringLiteral("\n\n")
        + QCoreApplication::translate("MainWindow",
                                      "Проверьте, что выбран порт прибора, скорость %1 бод совпадает "
                                      "со скоростью загрузчика и на прибор подано питание.")
              .arg(baud);
}
