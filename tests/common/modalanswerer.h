#ifndef MODALANSWERER_H
#define MODALANSWERER_H

#include <QMessageBox>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <QVector>

#include <functional>

// What a test saw of one modal dialog.
struct SeenDialog
{
    QString className;                  // "QMessageBox" or "QFileDialog"
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString title;
    QString text;                       // message text; for a file dialog its folder
    QMessageBox::StandardButtons buttons;
    QStringList nameFilters;            // file dialogs only
};

// Answers the modal dialogs a test provokes, from a queue of answers, and
// records each one. It polls for the active modal widget, so it works for
// the static QMessageBox and QFileDialog functions; a dialog with no answer
// queued is still recorded and dismissed (Cancel, No or OK), and a dialog
// the answerer cannot handle is closed after a bound, so a test never hangs.
class ModalAnswerer : public QObject
{
    Q_OBJECT

public:
    explicit ModalAnswerer(QObject *parent = nullptr);

    // The next message box is answered with this button.
    void Answer(QMessageBox::StandardButton button);
    // The next file dialog selects this file; an empty path cancels it.
    void ChooseFile(const QString &path);
    // Runs when the next message box has been recorded, before it is answered.
    void OnNextBox(std::function<void()> action);

    const QVector<SeenDialog> &Seen() const { return seen; }
    int Count() const { return seen.size(); }
    const SeenDialog &Last() const { return seen.last(); }
    void Clear() { seen.clear(); }

private:
    struct Reply
    {
        bool isFile = false;
        QMessageBox::StandardButton button = QMessageBox::NoButton;
        QString file;
    };

    void Poll();
    void HandleMessageBox(QMessageBox *box);
    void HandleFileDialog(class QFileDialog *dialog);
    Reply TakeReply(bool forFile);

    QTimer timer;
    QVector<Reply> replies;
    QVector<SeenDialog> seen;
    std::function<void()> nextBoxAction;
    QWidget *stuck = nullptr;
    int stuckPolls = 0;
};

#endif // MODALANSWERER_H
