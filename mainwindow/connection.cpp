#include "mainwindow.h"

void MainWindow::OpenPort()
{
}

void MainWindow::ClosePort()
{
}

void MainWindow::QueryFlashParams()
{
}
