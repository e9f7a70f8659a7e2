#include "modalanswerer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>

namespace {

const int PollMs = 10;
const int StuckLimitPolls = 500;    // 5 s for a dialog the answerer cannot handle

} // namespace

ModalAnswerer::ModalAnswerer()
{
    connect(&timer, &QTimer::timeout, this, &ModalAnswerer::Poll);
    timer.start(PollMs);
}

void ModalAnswerer::Poll()
{
    QWidget *modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible())
        return;
    if (auto *box = qobject_cast<QMessageBox *>(modal)) {
        HandleMessageBox(box);
    } else if (auto *dialog = qobject_cast<QFileDialog *>(modal)) {
        HandleFileDialog(dialog);
    } else {
        stuckPolls = (modal == stuck) ? stuckPolls + 1 : 0;
        stuck = modal;
        if (stuckPolls > StuckLimitPolls)
            modal->close();
    }
}

void ModalAnswerer::HandleMessageBox(QMessageBox *box)
{
    seen.append({ QStringLiteral("QMessageBox"), box->icon(), box->windowTitle(), box->text(),
                  box->standardButtons(), {} });
    if (nextBoxAction) {
        auto action = std::move(nextBoxAction);
        nextBoxAction = nullptr;
        action();
    }
    QAbstractButton *button = buttons.isEmpty() ? nullptr : box->button(buttons.takeFirst());
    // Unplanned box: dismissed the way a cautious user would.
    for (auto fallback : { QMessageBox::Cancel, QMessageBox::No, QMessageBox::Ok })
        button = button ? button : box->button(fallback);
    if (button)
        button->click();
    else
        box->done(0);
}

void ModalAnswerer::HandleFileDialog(QFileDialog *dialog)
{
    seen.append({ QStringLiteral("QFileDialog"), QMessageBox::NoIcon, dialog->windowTitle(),
                  dialog->directory().absolutePath(), {}, dialog->nameFilters() });
    const QFileInfo file(files.isEmpty() ? QString() : files.takeFirst());
    if (file.filePath().isEmpty())
        return dialog->reject();
    // The name is typed into the name field as a user would: selectFile()
    // leaves that field alone while it has the focus, which depends on how
    // quickly the dialog got activated.
    dialog->setDirectory(file.absolutePath());
    if (auto *nameField = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
        nameField->setText(file.fileName());
    if (dialog->selectedFiles().value(0) != file.absoluteFilePath()) {
        qWarning("file dialog did not take %s", qPrintable(file.filePath()));
        return dialog->reject();
    }
    // Accepted straight: accept() checks against the dialog's file system
    // model, which loads asynchronously and now and then refuses.
    static_cast<QDialog *>(dialog)->done(QDialog::Accepted);
}
