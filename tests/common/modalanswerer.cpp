#include "modalanswerer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>

namespace {

const int PollMs = 10;
const int StuckLimitPolls = 500;    // 5 s for a dialog the answerer cannot handle

} // namespace

ModalAnswerer::ModalAnswerer(QObject *parent)
    : QObject(parent)
{
    connect(&timer, &QTimer::timeout, this, &ModalAnswerer::Poll);
    timer.start(PollMs);
}

void ModalAnswerer::Answer(QMessageBox::StandardButton button)
{
    Reply reply;
    reply.button = button;
    replies.append(reply);
}

void ModalAnswerer::ChooseFile(const QString &path)
{
    Reply reply;
    reply.isFile = true;
    reply.file = path;
    replies.append(reply);
}

void ModalAnswerer::OnNextBox(std::function<void()> action)
{
    nextBoxAction = std::move(action);
}

ModalAnswerer::Reply ModalAnswerer::TakeReply(bool forFile)
{
    for (int i = 0; i < replies.size(); ++i) {
        if (replies[i].isFile == forFile)
            return replies.takeAt(i);
    }
    return Reply();
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
    SeenDialog dialog;
    dialog.className = QStringLiteral("QMessageBox");
    dialog.icon = box->icon();
    dialog.title = box->windowTitle();
    dialog.text = box->text();
    dialog.buttons = box->standardButtons();
    seen.append(dialog);

    if (nextBoxAction) {
        auto action = std::move(nextBoxAction);
        nextBoxAction = nullptr;
        action();
    }

    QMessageBox::StandardButton answer = TakeReply(false).button;
    if (answer == QMessageBox::NoButton || !box->button(answer)) {
        // Unplanned box: dismiss it the way a cautious user would.
        for (auto candidate : { QMessageBox::Cancel, QMessageBox::No, QMessageBox::Ok }) {
            if (box->button(candidate)) {
                answer = candidate;
                break;
            }
        }
    }
    if (QAbstractButton *button = box->button(answer))
        button->click();
    else
        box->done(0);   // an About box carries no standard button
}

void ModalAnswerer::HandleFileDialog(QFileDialog *dialog)
{
    SeenDialog seenDialog;
    seenDialog.className = QStringLiteral("QFileDialog");
    seenDialog.title = dialog->windowTitle();
    seenDialog.text = dialog->directory().absolutePath();
    seenDialog.nameFilters = dialog->nameFilters();
    seen.append(seenDialog);

    const Reply reply = TakeReply(true);
    if (reply.file.isEmpty()) {
        dialog->reject();
        return;
    }
    // selectFile() leaves the name field alone while that field has the
    // focus, which depends on how quickly the dialog got activated; the
    // name is typed into the field instead, as a user would.
    const QFileInfo file(reply.file);
    dialog->setDirectory(file.absolutePath());
    if (auto *nameField = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
        nameField->setText(file.fileName());
    else
        dialog->selectFile(file.fileName());
    if (dialog->selectedFiles().value(0) != file.absoluteFilePath()) {
        qWarning("file dialog did not take %s: %s", qPrintable(reply.file), qPrintable(dialog->selectedFiles().join(",")));
        dialog->reject();
        return;
    }
    static_cast<QDialog *>(dialog)->done(QDialog::Accepted);
}
