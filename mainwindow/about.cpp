#include "mainwindow.h"

#include <QMessageBox>

void MainWindow::About()
{
    QMessageBox::about(this, tr("О программе"),
                       tr("<h2>Tamrivo 1.3.1</h2>Программа предначена для программирования Flash\n"
                          "приборов Ostrel на базе МК STM32.<p>")
                           + tr("Ostrel, 2026")
                           + QStringLiteral("<p><a href=\"https://www.ostrel.example\">www.ostrel.example</a>"));
}
