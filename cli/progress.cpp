#include "progress.h"

#include "interrupt.h"
#include "passrate.h"
#include "jobclass.h"
#include "progressboard.h"
#include "terminal.h"


namespace {

// A terminal redraw is cheap but a 48 KiB job makes 768 calls per pass;
// a log line every few seconds is enough to show that a bench is alive.
constexpr qint64 TerminalIntervalMs = 100;
constexpr qint64 PlainIntervalMs = 2000;
constexpr int BarWidth = 24;

QString Clock(qint64 seconds)
{
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QChar('0'));
}

} // namespace

ProgressObserver::ProgressObserver(Mode mode, FILE *stream)
    : mode(mode), stream(stream)
{
}

ProgressObserver::Mode ProgressObserver::ModeFor(bool quiet, bool many, FILE *stream)
{
    if (quiet)
        return Silent;
    if (!IsTerminal(stream))
        return Plain;
    return many ? Board : Terminal;
}

QString ProgressObserver::PassName(JobPass pass)
{
    return ::PassName(pass);
}

void ProgressObserver::PassStarted(JobPass newPass, int newMaximum)
{
    Finish();
    pass = newPass;
    maximum = newMaximum;
    value = 0;
    passTimer.start();
    shownTimer.start();
    if (maximum > 0)
        Show(false);
}

void ProgressObserver::Progress(int newValue)
{
    value = newValue;
    const bool final = value >= maximum;
    const qint64 interval = mode == Plain ? PlainIntervalMs : TerminalIntervalMs;
    if (final || shownTimer.elapsed() >= interval)
        Show(final);
}

bool ProgressObserver::ShouldStop(JobPass)
{
    return InterruptRequested();
}

void ProgressObserver::Finish()
{
    if (lineOpen)
        std::fputc('\n', stream);
    lineOpen = false;
    std::fflush(stream);
}

void ProgressObserver::Show(bool final)
{
    if (mode == Silent)
        return;
    shownTimer.restart();
    if (mode == Board) {
        board->Set(row, BoardLine());
        return;
    }
    const QByteArray text = (prefix + Line()).toLocal8Bit();
    if (mode == Plain) {
        std::fprintf(stream, "%s\n", text.constData());
    } else {
        // Padding wipes what a longer previous line left behind.
        std::fprintf(stream, "\r%-78s", text.constData());
        lineOpen = true;
        if (final)
            Finish();
    }
    std::fflush(stream);
}

QString ProgressObserver::Line() const
{
    const bool pages = pass == JobPass::Erase || pass == JobPass::Compare;
    const QString unit = pages ? QStringLiteral("pages") : QStringLiteral("bytes");
    return QStringLiteral("%1 %2 %3/%4 %5 %6 %7 left")
        .arg(PassName(pass), -6)
        .arg(Bar())
        .arg(value)
        .arg(maximum)
        .arg(unit)
        .arg(Rate(), 12)
        .arg(TimeLeft());
}

QString ProgressObserver::BoardLine() const
{
    const int percent = maximum > 0 ? int(qint64(value) * 100 / maximum) : 100;
    return QStringLiteral("%1 %2% %3 %4 left").arg(PassName(pass), -6).arg(percent, 3).arg(Rate(), 12).arg(TimeLeft());
}

QString ProgressObserver::Bar() const
{
    const int filled = maximum > 0 ? int(qint64(value) * BarWidth / maximum) : BarWidth;
    return QLatin1Char('[') + QString(filled, '#') + QString(BarWidth - filled, '.')
        + QLatin1Char(']');
}

double ProgressObserver::PerSecond() const
{
    return PassRate::PerSecond(value, passTimer.nsecsElapsed());
}

QString ProgressObserver::Rate() const
{
    const double rate = PerSecond();
    if (pass == JobPass::Erase || pass == JobPass::Compare)
        return QStringLiteral("%1 pages/s").arg(rate, 0, 'f', 1);
    return QStringLiteral("%1 kB/s").arg(rate / 1024.0, 0, 'f', 1);
}

QString ProgressObserver::TimeLeft() const
{
    const qint64 left = PassRate::SecondsLeft(value, maximum, passTimer.nsecsElapsed());
    return left < 0 ? QStringLiteral("-:--") : Clock(left);
}
