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

// The device a port name stands for, so that two names of one device
// compare equal: on Unix the device file's path with every symbolic link
// resolved (a /dev/serial/by-id name, or a link to a pseudo-terminal,
// becomes the file it leads to; a bare name such as ttyUSB0 lives in /dev,
// as QSerialPort takes it); on Windows the COM name in capitals. A name
// with no file behind it yet stands for its own clean absolute path.
QString SerialDevice(const QString &name);

// The name under /dev/serial/by-path that leads to the port's device, so
// that a record names the USB socket the board was in, which stays the
// same across reboots while ttyUSB numbers are handed out in plug order.
// Empty where there is none (no such folder, a pseudo-terminal, Windows).
QString StablePortName(const QString &path);

#endif // SERIALLINE_H
