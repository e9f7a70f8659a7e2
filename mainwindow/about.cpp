#include "mainwindow.h"

#include <QMessageBox>

void MainWindow::About()
{
    // The version stays out of the translated text, so that a new version
    // needs no new translation.
    QMessageBox::about(this, tr("О программе"),
                       QStringLiteral("<h2>Tamrivo " TAMRIVO_VERSION "</h2>")
                           + tr("Программа предначена для программирования Flash\n"
                                "приборов Ostrel на базе МК STM32.<p>")
                           + tr("Ostrel, 2026")
                           + QStringLiteral("<p><a href=\"https://www.ostrel.example\">www.ostrel.example</a>"));
}
