#include "mainwindow.h"

#include <QCloseEvent>

void MainWindow::WriteData()
{
}

void MainWindow::PushCansel()
{
    cancelPressed = true;
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    event->accept();
}
