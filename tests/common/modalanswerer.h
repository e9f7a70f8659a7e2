#ifndef MODALANSWERER_H
#define MODALANSWERER_H

#include <QMessageBox>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <QVector>

#include <functional>

class QFileDialog;

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

// Answers the modal dialogs a test provokes, in order, and records each.
// It polls for the active modal widget, so it works for the static
// QMessageBox and QFileDialog functions. A box with no answer queued is
// dismissed (Cancel, No or OK), and any other modal widget is closed after
// a bound, so a test never hangs.
class ModalAnswerer : public QObject
{
    Q_OBJECT

public:
    ModalAnswerer();

    void Answer(QMessageBox::StandardButton button) { buttons.append(button); }
    // The next file dialog selects this file; an empty path cancels it.
    void ChooseFile(const QString &path) { files.append(path); }
    // Runs when the next message box has been recorded, before it is answered.
    void OnNextBox(std::function<void()> action) { nextBoxAction = std::move(action); }

    const QVector<SeenDialog> &Seen() const { return seen; }
    int Count() const { return seen.size(); }
    const SeenDialog &Last() const { return seen.last(); }
    void Clear() { seen.clear(); }

private:
    void Poll();
    void HandleMessageBox(QMessageBox *box);
    void HandleFileDialog(QFileDialog *dialog);

    QTimer timer;
    QVector<QMessageBox::StandardButton> buttons;
    QStringList files;
    QVector<SeenDialog> seen;
    std::function<void()> nextBoxAction;
    QWidget *stuck = nullptr;
    int stuckPolls = 0;
};

#endif // MODALANSWERER_H
