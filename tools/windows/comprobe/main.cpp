// Puts one serial port through what Tamrivo's link asks of QSerialPort: open
// at 19200 8N1 with DTR and RTS raised, then parameter queries to the resident
// loader (or its simulator) answered frame by frame. Built for Linux and for
// Windows alike, so the same run can be timed natively and under Wine.
//
//   comprobe PORT queries N [blocking|signals]   N queries, one reply each
//   comprobe PORT idle SECONDS                   port open, nothing sent
//   comprobe PORT hangup                         queries until the line dies
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSerialPort>
#include <QTextStream>
#include <QTimer>

namespace {

const QByteArray Query = "#A3014503\r";   // parameter query, as the link sends it
constexpr char FrameEnd = '\r';
constexpr char ReplyStart = '^';
constexpr int ReplyTimeoutMs = 400;

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

bool Fail(const QString &text)
{
    out() << "FAIL " << text << Qt::endl;
    return false;
}

bool OpenPort(QSerialPort *port, const QString &name)
{
    port->setPortName(name);
    port->setBaudRate(19200);
    port->setDataBits(QSerialPort::Data8);
    port->setParity(QSerialPort::NoParity);
    port->setStopBits(QSerialPort::OneStop);
    port->setFlowControl(QSerialPort::NoFlowControl);
    QElapsedTimer timer;
    timer.start();
    if (!port->open(QIODevice::ReadWrite))
        return Fail(QStringLiteral("open: %1").arg(port->errorString()));
    const qint64 openMs = timer.elapsed();
    // A bare pseudo-terminal has no modem lines; the link goes on without them.
    const bool lines = port->setDataTerminalReady(true) && port->setRequestToSend(true);
    out() << "opened " << name << " in " << openMs << " ms, DTR/RTS "
          << (lines ? QStringLiteral("raised") : port->errorString()) << Qt::endl;
    port->clearError();
    return true;
}

// One reply frame: peek for the frame end first, as the link does, so that
// the start of a frame stays in the buffer until the rest arrives; line noise
// before the frame's start is dropped with it.
QByteArray TakeFrame(QSerialPort *port)
{
    const QByteArray seen = port->peek(port->bytesAvailable());
    const int end = seen.indexOf(FrameEnd);
    if (end < 0)
        return QByteArray();
    const QByteArray line = port->read(end + 1);
    const int start = line.lastIndexOf(ReplyStart);
    return start < 0 ? QByteArray() : line.mid(start);
}

QByteArray AskBlocking(QSerialPort *port)
{
    port->write(Query);
    if (!port->waitForBytesWritten(ReplyTimeoutMs))
        return QByteArray();
    QElapsedTimer timer;
    timer.start();
    QByteArray frame;
    while (frame.isEmpty() && timer.elapsed() < ReplyTimeoutMs) {
        frame = TakeFrame(port);
        if (frame.isEmpty() && !port->waitForReadyRead(int(ReplyTimeoutMs - timer.elapsed())))
            break;
    }
    return frame.isEmpty() ? TakeFrame(port) : frame;
}

QByteArray AskBySignals(QSerialPort *port)
{
    QEventLoop loop;
    QByteArray frame;
    const auto onData = QObject::connect(port, &QSerialPort::readyRead, &loop, [&] {
        frame = TakeFrame(port);
        if (!frame.isEmpty())
            loop.quit();
    });
    const auto onError = QObject::connect(port, &QSerialPort::errorOccurred, &loop,
                                          [&](QSerialPort::SerialPortError error) {
        if (error != QSerialPort::NoError)
            loop.quit();
    });
    QTimer::singleShot(ReplyTimeoutMs, &loop, &QEventLoop::quit);
    port->write(Query);
    loop.exec();
    QObject::disconnect(onData);
    QObject::disconnect(onError);
    return frame;
}

// Every reply must be the first one again; a query left unanswered is asked
// again once (the link's retry), after the input is cleared of any late bytes.
int RunQueries(QSerialPort *port, int count, bool bySignals)
{
    QByteArray first;
    int answered = 0, retried = 0, wrong = 0;
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < count; ++i) {
        port->clear(QSerialPort::Input);
        QByteArray reply = bySignals ? AskBySignals(port) : AskBlocking(port);
        if (reply.isEmpty()) {
            ++retried;
            out() << "query " << i << ": no reply (" << port->errorString() << "), asking again"
                  << Qt::endl;
            if (port->error() == QSerialPort::ResourceError)
                break;
            port->clear(QSerialPort::Input);
            reply = bySignals ? AskBySignals(port) : AskBlocking(port);
        }
        if (first.isEmpty())
            first = reply;
        if (reply.isEmpty() || reply != first || !reply.startsWith('^'))
            ++wrong;
        else
            ++answered;
    }
    const qint64 ms = timer.elapsed();
    out() << "reply " << first.trimmed() << Qt::endl
          << count << " queries (" << (bySignals ? "signals" : "blocking") << "): " << answered
          << " answered, " << retried << " asked again, " << wrong << " wrong or missing, " << ms
          << " ms, " << (count ? double(ms) / count : 0.0) << " ms each" << Qt::endl;
    return answered == count ? 0 : 1;
}

int RunIdle(QSerialPort *port, int seconds)
{
    int readyReads = 0;
    QObject::connect(port, &QSerialPort::readyRead, [&] { ++readyReads; });
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    loop.exec();
    out() << "idle " << seconds << " s: " << readyReads << " readyRead, error "
          << port->error() << Qt::endl;
    return port->error() == QSerialPort::NoError ? 0 : 1;
}

// Asks until the line fails; whoever runs this kills the device meanwhile.
// A hangup must come out as an error, not as a silent port.
int RunUntilHangup(QSerialPort *port)
{
    QSerialPort::SerialPortError seen = QSerialPort::NoError;
    QObject::connect(port, &QSerialPort::errorOccurred, [&](QSerialPort::SerialPortError error) {
        if (error != QSerialPort::NoError && seen == QSerialPort::NoError)
            seen = error;
    });
    QElapsedTimer sinceLastReply;
    sinceLastReply.start();
    int answered = 0;
    while (seen == QSerialPort::NoError && sinceLastReply.elapsed() < 10000) {
        if (!AskBySignals(port).isEmpty()) {
            ++answered;
            sinceLastReply.restart();
        }
    }
    out() << answered << " answered, then "
          << (seen == QSerialPort::NoError ? QStringLiteral("no error for 10 s")
                                           : QStringLiteral("error %1 (%2) %3 ms after the last reply")
                                                 .arg(seen).arg(port->errorString())
                                                 .arg(sinceLastReply.elapsed()))
          << Qt::endl;
    return seen == QSerialPort::NoError ? 1 : 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        out() << "usage: comprobe PORT queries N [blocking|signals] | idle SECONDS | hangup"
              << Qt::endl;
        return 2;
    }
    QSerialPort port;
    // Every error as it happens: a later timeout would hide its cause.
    QObject::connect(&port, &QSerialPort::errorOccurred, [&](QSerialPort::SerialPortError error) {
        if (error != QSerialPort::NoError && error != QSerialPort::TimeoutError)
            out() << "error " << error << ": " << port.errorString() << Qt::endl;
    });
    if (!OpenPort(&port, args.at(1)))
        return 1;
    const QString mode = args.at(2);
    const int number = args.value(3).toInt();
    if (mode == QLatin1String("queries"))
        return RunQueries(&port, number, args.value(4) == QLatin1String("signals"));
    if (mode == QLatin1String("idle"))
        return RunIdle(&port, number);
    if (mode == QLatin1String("hangup"))
        return RunUntilHangup(&port);
    return Fail(QStringLiteral("unknown mode %1").arg(mode)) ? 0 : 2;
}
