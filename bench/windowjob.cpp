// Writes one image through the window, driven as a user drives it, and
// tells how long the write took and how much processor time the window
// spent on it: the flash map and the progress are meant to cost the job
// nothing, at the line's pace and at the processor's.
//   tamrivo-bench-window --port PORT [--baud 19200] IMAGE
// The last line is for scripts: "result key=value ...". For the pictures
// in docs/window.md it can also speak English (--lang en), grab the window
// halfway through the write (--shot FILE), and afterwards verify against
// another file and grab the view of the differences (--verify-with FILE
// --shot-differences FILE).
//   tamrivo-bench-window --port PORT [--baud 19200] --line PROJECT [--boards N] [--shot FILE]
// runs the window as a production line instead: it opens PROJECT through
// the File menu, ticks the panel's automatic start and serves every board
// that comes until SIGTERM or SIGINT, or until N boards are on the panel,
// then prints "result boards=N cpu=... wall=..." (both in seconds, from
// the tick). With --shot the window is grabbed after every board, so FILE
// shows the last one.

#include "language.h"
#include "mainwindow.h"
#include "processclock.h"

#include <QAction>
#include <QApplication>
#include <QCommandLineParser>
#include <QComboBox>
#include <QDialog>
#include <QProgressBar>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QRegularExpression>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <functional>

namespace {

// The note the window shows after a write that went through, in either
// of its languages.
bool IsSuccessNote(const QString &text)
{
    return text == QStringLiteral("Данные успешно записаны") || text.contains(QLatin1String("successfully"));
}

struct Mark
{
    qint64 ms = -1;     // on the bench's clock; -1: never reached
    double cpu = 0;
};

// Drives the window through connect, file choice and write, answering
// each modal box with its default as it appears. The window runs its
// waits in nested event loops, so a box can only be caught by a timer
// that fires inside them.
class WindowBench
{
public:
    WindowBench(MainWindow &window, const QString &port, const QString &baud, const QString &image,
                int pollMs = JobPollMs)
        : window(window), port(port), baud(baud), image(image)
    {
        clock.start();
        QObject::connect(&poll, &QTimer::timeout, [this] {
            Answer();
            if (onPoll)
                onPoll();
        });
        poll.start(pollMs);
    }

    // Everything the user does, in order; returns when the write has ended.
    bool Run()
    {
        if (!Connect())
            return false;
        auto *file = Child<QLineEdit>("lineEditFileData");
        file->setText(image);
        emit file->editingFinished();

        click = Now();
        Child<QPushButton>("pushButtonWrite")->click();
        return success.ms >= 0;
    }

    // The baud rate chosen, the port typed and Return pressed, the
    // parameters box answered.
    bool Connect()
    {
        auto *baudBox = Child<QComboBox>("comboBoxBaud");
        const int index = baudBox->findText(baud);
        if (index < 0) {
            std::fprintf(stderr, "tamrivo-bench-window: the window offers no %s baud\n", qPrintable(baud));
            return false;
        }
        baudBox->setCurrentIndex(index);

        auto *portBox = Child<QComboBox>("comboBoxPort");
        portBox->setEditText(port);
        connectStart = Now();
        QTest::keyClick(portBox, Qt::Key_Return);
        if (!Child<QPushButton>("pushButtonWrite")->isEnabled()) {
            std::fprintf(stderr, "tamrivo-bench-window: %s did not connect\n", qPrintable(port));
            return false;
        }
        return true;
    }

    // Opens a project as the user does: the File menu's action, its file
    // dialog given the path. The production line comes up with it.
    bool OpenProject(const QString &file)
    {
        fileToChoose = file;
        Child<QAction>("actionOpenProject")->trigger();
        fileToChoose.clear();
        return window.OpenedProject().has_value();
    }

    // Halfway through the write pass, the window as it looks then.
    void ShootWhileWriting(const QString &file)
    {
        auto *bar = Child<QProgressBar>("progressBar");
        QObject::connect(bar, &QProgressBar::valueChanged, bar, [this, bar, file](int value) {
            if (shot || bar->maximum() <= 0 || value * 2 < bar->maximum() || !writing())
                return;
            shot = true;
            window.grab().save(file);
        });
    }

    // Verifies against another file (the F6 action) and grabs the view of
    // the differences it opens.
    bool ShootDifferences(const QString &other, const QString &file)
    {
        auto *edit = Child<QLineEdit>("lineEditFileData");
        edit->setText(other);
        emit edit->editingFinished();
        for (QAction *action : window.findChildren<QAction *>()) {
            if (action->shortcut() == QKeySequence(Qt::Key_F6))
                action->trigger();
        }
        for (QDialog *dialog : window.findChildren<QDialog *>()) {
            if (dialog->isVisible() && !qobject_cast<QMessageBox *>(dialog))
                return dialog->grab().save(file) && window.grab().save(QFileInfo(file).path() + "/after-verify-"
                                                                          + QFileInfo(file).fileName());
        }
        return false;
    }

    std::function<bool()> writing = [] { return true; };
    std::function<void()> onPoll;     // after each look for a box

    template<typename T>
    T *Child(const char *name)
    {
        T *child = window.findChild<T *>(QLatin1String(name));
        if (!child)
            qFatal("no %s in the window", name);
        return child;
    }

    void PrintBoxes() const
    {
        for (const QString &box : boxes)
            std::printf("box: %s\n", qPrintable(QString(box).replace('\n', QStringLiteral(" | "))));
    }

    void Print() const
    {
        PrintBoxes();
        const auto seconds = [](const Mark &from, const Mark &to) {
            return from.ms < 0 || to.ms < 0 ? -1.0 : (to.ms - from.ms) / 1000.0;
        };
        const auto percent = [&](const Mark &from, const Mark &to) {
            const double wall = seconds(from, to);
            return wall > 0 ? 100.0 * (to.cpu - from.cpu) / wall : -1.0;
        };
        const double connect = seconds(connectStart, paramsBox);
        const double job = seconds(click, success);
        const double proper = seconds(summaryOk, success);
        std::printf("connect and parameter query: %.2f s (Return in the port box to the parameters box)\n", connect);
        std::printf("write: %.2f s from the click to the success note, %.2f s of it after the summary's OK\n",
                    job, proper);
        std::printf("cpu: %.3f s user+system over the click to the note, %.2f %% of one core; "
                    "%.2f %% after the summary's OK\n",
                    success.ms < 0 ? -1.0 : success.cpu - click.cpu, percent(click, success),
                    percent(summaryOk, success));
        std::printf("window's status: %s\n", qPrintable(jobStatus));
        std::printf("result connect=%.3f job=%.3f proper=%.3f cpu=%.3f cpupct=%.3f properpct=%.3f success=%d\n",
                    connect, job, proper, success.ms < 0 ? -1.0 : success.cpu - click.cpu, percent(click, success),
                    percent(summaryOk, success), success.ms >= 0 ? 1 : 0);
    }

private:
    // Often enough that a box costs the job little, seldom enough that the
    // polling itself is no load worth counting.
    static constexpr int JobPollMs = 10;

    Mark Now() const { return Mark { clock.elapsed(), ProcessCpuSeconds() }; }

    void Answer()
    {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (dialog && dialog->isVisible() && !fileToChoose.isEmpty()) {
            boxes << QStringLiteral("file dialog \"%1\": %2").arg(dialog->windowTitle(), fileToChoose);
            // Typed into its name field, as a user does: a file selected
            // from outside does not replace what that field holds while
            // it has the focus.
            auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
            if (!name)
                qFatal("no name field in the file dialog");
            name->setText(fileToChoose);
            // Its own accept, which takes the file chosen, is protected.
            static_cast<QDialog *>(dialog)->accept();
            return;
        }
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        const Mark seen = Now();
        const QString text = box->text().trimmed();
        // Timed from the press that led to it: Return in the port box, or the write.
        const Mark &cause = click.ms >= 0 ? click : connectStart;
        boxes << QStringLiteral("%1 s after %2: %3").arg((seen.ms - cause.ms) / 1000.0, 0, 'f', 2)
                                                    .arg(click.ms >= 0 ? QStringLiteral("write") : QStringLiteral("Return"), text);
        if (click.ms < 0 && paramsBox.ms < 0)
            paramsBox = seen;
        if (click.ms >= 0 && IsSuccessNote(text)) {
            success = seen;
            jobStatus = Child<QLabel>("labelJobStatus")->text();
        }
        QAbstractButton *button = box->button(QMessageBox::Ok);
        if (!button)
            button = box->defaultButton();
        if (click.ms >= 0 && summaryOk.ms < 0)
            summaryOk = Now();
        button ? button->click() : box->done(0);
    }

    MainWindow &window;
    const QString port;
    const QString baud;
    const QString image;
    QElapsedTimer clock;
    QTimer poll;
    QStringList boxes;
    QString fileToChoose;
    QString jobStatus;
    Mark connectStart;
    Mark paramsBox;     // the device's parameters offered: the connect is done
    Mark click;
    Mark summaryOk;     // the first box after the click, answered: the job begins
    Mark success;
    bool shot = false;
};

// SIGTERM or SIGINT: the line ends as the operator ends it, between boards.
std::atomic<bool> stopAsked{false};
static_assert(std::atomic<bool>::is_always_lock_free, "a signal handler may only set a lock-free atomic");

extern "C" void OnStop(int)
{
    stopAsked = true;
}

// The boards the panel counts for the station today, passed and failed:
// what the store holds, so it grows by one with each board the panel
// shows. -1 while the panel says something else (the store unread).
int CountedToday(const QLabel &counts)
{
    const QString text = QApplication::translate("ProductionPanel", "Сегодня: годных %1, брак %2");
    QStringList pieces;
    for (const QString &piece : text.split(QRegularExpression(QStringLiteral("%[12]"))))
        pieces << QRegularExpression::escape(piece);
    const QRegularExpression pattern(QLatin1Char('^') + pieces.join(QLatin1String("(\\d+)")) + QLatin1Char('$'));
    const QRegularExpressionMatch match = pattern.match(counts.text());
    return match.hasMatch() ? match.captured(1).toInt() + match.captured(2).toInt() : -1;
}

// The window as a production line: connected, the project opened from the
// File menu, the automatic start ticked; every board after that is the
// window's own doing. Returns false when the line could not be started.
class LineBench
{
public:
    LineBench(WindowBench &bench, MainWindow &window, int boards, const QString &shot)
        : bench(bench), window(window), boards(boards), shot(shot)
    {
        bench.onPoll = [this] { Look(); };
    }

    bool Start(const QString &project)
    {
        if (!bench.Connect())
            return false;
        if (!bench.OpenProject(project)) {
            std::fprintf(stderr, "tamrivo-bench-window: the window did not open %s\n", qPrintable(project));
            return false;
        }
        counts = bench.Child<QLabel>("labelTodayCounts");
        auto *box = bench.Child<QCheckBox>("checkBoxAutoStart");
        before = CountedToday(*counts);
        clock.start();
        cpuBefore = ProcessCpuSeconds();
        box->setChecked(true);
        if (!box->isChecked()) {
            std::fprintf(stderr, "tamrivo-bench-window: the automatic start did not stay on\n");
            return false;
        }
        std::printf("line: automatic start on, %d boards counted today before\n", before);
        std::fflush(stdout);
        automatic = box;
        return true;
    }

    void Print() const
    {
        bench.PrintBoxes();
        std::printf("line: %d boards on the panel in %.2f s, %.3f s of CPU (%.2f %% of a core)\n", shown, wall, cpu,
                    wall > 0 ? 100 * cpu / wall : 0.0);
        std::printf("result boards=%d cpu=%.3f wall=%.3f\n", shown, cpu, wall);
    }

private:
    void Look()
    {
        // Stopped before the line started: nothing of the window's to spare.
        if (!automatic) {
            if (stopAsked)
                QApplication::quit();
            return;
        }
        const int counted = CountedToday(*counts);
        if (counted >= 0 && before >= 0 && counted - before > shown) {
            shown = counted - before;
            if (!shot.isEmpty())
                window.grab().save(shot);
        }
        if (wall < 0 && (stopAsked || (boards > 0 && shown >= boards))) {
            wall = clock.elapsed() / 1000.0;
            cpu = ProcessCpuSeconds() - cpuBefore;
            automatic->setChecked(false);
        }
        // Quitting from inside one of the window's nested waits would end
        // that wait too: only from the main loop.
        if (wall >= 0 && QThread::currentThread()->loopLevel() == 1)
            QApplication::quit();
    }

    WindowBench &bench;
    MainWindow &window;
    const int boards;           // 0: until a signal
    const QString shot;
    QLabel *counts = nullptr;
    QCheckBox *automatic = nullptr;     // set once the line has started
    int before = -1;
    int shown = 0;
    QElapsedTimer clock;
    double cpuBefore = 0;
    double wall = -1;
    double cpu = 0;
};

} // namespace

int main(int argc, char *argv[])
{
    // No display needed, and the user's own settings and data (a line's
    // journal) left alone.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir configHome;
    qputenv("XDG_CONFIG_HOME", configHome.path().toLocal8Bit());
    qputenv("XDG_DATA_HOME", (configHome.path() + QStringLiteral("/data")).toLocal8Bit());
    // Qt's own file dialog, which the bench can answer, on any display.
    QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    Q_INIT_RESOURCE(resources);
    QApplication app(argc, argv);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Writes IMAGE through the window and tells the write's time and "
                                                    "the processor time it took."));
    parser.addHelpOption();
    parser.addOption({ QStringLiteral("port"), QStringLiteral("the serial port"), QStringLiteral("PORT") });
    parser.addOption({ QStringLiteral("baud"), QStringLiteral("line speed (default 19200)"), QStringLiteral("BAUD"),
                       QStringLiteral("19200") });
    parser.addOption({ QStringLiteral("lang"), QStringLiteral("the window's language, ru or en"), QStringLiteral("LANG") });
    parser.addOption({ QStringLiteral("shot"), QStringLiteral("grab the window halfway through the write"), QStringLiteral("FILE") });
    parser.addOption({ QStringLiteral("verify-with"), QStringLiteral("afterwards verify against FILE"), QStringLiteral("FILE") });
    parser.addOption({ QStringLiteral("shot-differences"), QStringLiteral("grab the differences found"), QStringLiteral("FILE") });
    parser.addOption({ QStringLiteral("line"), QStringLiteral("run PROJECT's production line with the automatic start"),
                       QStringLiteral("PROJECT") });
    parser.addOption({ QStringLiteral("boards"), QStringLiteral("with --line: end after N boards (default: at a signal)"),
                       QStringLiteral("N"), QStringLiteral("0") });
    parser.addPositionalArgument(QStringLiteral("IMAGE"), QStringLiteral("the image to write"));
    parser.process(app);
    const bool lineMode = parser.isSet(QStringLiteral("line"));
    if (!parser.isSet(QStringLiteral("port")) || parser.positionalArguments().size() != (lineMode ? 0 : 1)) {
        std::fputs("usage: tamrivo-bench-window --port PORT [--baud BAUD] IMAGE\n"
                   "       tamrivo-bench-window --port PORT [--baud BAUD] --line PROJECT [--boards N] [--shot FILE]\n",
                   stderr);
        return 2;
    }

    if (parser.isSet(QStringLiteral("lang")))
        InstallTranslations(parser.value(QStringLiteral("lang")));
    MainWindow window;
    window.show();
    // What the window brought back from its settings, before the bench
    // types anything: where settings live in the system's own store (the
    // registry on Windows), a second run shows the first run's file.
    std::printf("remembered data file: %s\n",
                qPrintable(window.findChild<QLineEdit *>(QStringLiteral("lineEditFileData"))->text()));
    std::fflush(stdout);
    if (lineMode) {
        // The bench's look for boxes and boards costs the window's line
        // next to nothing at this rate.
        WindowBench bench(window, parser.value(QStringLiteral("port")), parser.value(QStringLiteral("baud")), QString(),
                          100);
        LineBench line(bench, window, parser.value(QStringLiteral("boards")).toInt(), parser.value(QStringLiteral("shot")));
        std::signal(SIGTERM, OnStop);
        std::signal(SIGINT, OnStop);
        bool started = false;
        QTimer::singleShot(0, [&] {
            started = line.Start(QFileInfo(parser.value(QStringLiteral("line"))).absoluteFilePath());
            if (!started)
                app.quit();
        });
        app.exec();
        line.Print();
        return started ? 0 : 1;
    }
    WindowBench bench(window, parser.value(QStringLiteral("port")), parser.value(QStringLiteral("baud")),
                      QFileInfo(parser.positionalArguments().first()).absoluteFilePath());
    if (parser.isSet(QStringLiteral("shot"))) {
        const QString writing = QApplication::translate("MainWindow", "Запись");
        auto *label = window.findChild<QLabel *>(QStringLiteral("labelProcessBar"));
        bench.writing = [label, writing] { return label->text() == writing; };
        bench.ShootWhileWriting(parser.value(QStringLiteral("shot")));
    }
    bool ok = false;
    QTimer::singleShot(0, [&] {
        ok = bench.Run();
        if (ok && parser.isSet(QStringLiteral("verify-with")))
            ok = bench.ShootDifferences(QFileInfo(parser.value(QStringLiteral("verify-with"))).absoluteFilePath(),
                                        parser.value(QStringLiteral("shot-differences")));
        app.quit();
    });
    app.exec();
    bench.Print();
    return ok ? 0 : 1;
}
