#ifndef SERIALLINE_H
#define SERIALLINE_H

#include <QSerialPort>
#include <QString>

// How opening a port ended: the port's error and its words, taken before
// the port is closed again (closing may change them). NoError: the line
// is open and set up.
struct LineOpening
{
    QSerialPort::SerialPortError error = QSerialPort::NoError;
    QString reason;

    bool Ok() const { return error == QSerialPort::NoError; }
};

// Opens the port as the loader expects it: baud, 8 data bits, no parity,
// one stop bit, then the DTR/RTS pulse that some boards use to start
// their loader. A port that refuses any line setting is not open: a line
// at another speed or framing would only ever carry noise. The pulse
// alone may fail (pseudo-terminals and some adapters have no modem
// lines) without stopping anything.
//
// One job per device: a device another job has open, under this name or
// any other, is refused with the reason that it is in use.
LineOpening OpenSerialLine(QSerialPort &port, const QString &name, qint32 baud);

#endif // SERIALLINE_H
