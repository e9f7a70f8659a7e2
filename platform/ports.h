#ifndef PORTS_H
#define PORTS_H

#include <QString>

// How the system names, finds, shares and guards serial ports.

// The device a port name stands for, so that two names of one device
// compare equal: on POSIX the device file's path with every symbolic link
// resolved (a /dev/serial/by-id name, or a link to a pseudo-terminal,
// becomes the file it leads to; a bare name such as ttyUSB0 lives in /dev,
// as the serial port takes it); on Windows the COM name in capitals. A
// name with no file behind it yet stands for its own clean absolute path.
QString SerialDevice(const QString &name);

// The name to hand the serial port for a port the user typed: on Windows
// the COM name in capitals, which the serial port needs to reach COM10
// and above; elsewhere the name as it is.
QString PortNameToOpen(const QString &name);

// A name for the adapter that stays the same across reboots and plug
// order, for a record to say where the board was: on Linux the
// /dev/serial/by-path name of the USB socket; on Windows the adapter's
// description and serial number. Empty where there is none (a
// pseudo-terminal, a built-in port).
QString StablePortName(const QString &name);

// Whether the port is there now: a USB adapter's port comes and goes
// with it.
bool PortPresent(const QString &name);

// Takes the one-job-per-device lock on an open port's handle: false when
// another job, under any name of the device and in any process, has it.
// The lock goes with the handle, so a job that dies leaves none.
bool LockDevice(qintptr handle);

// Whether the system refuses this user the port's device for want of
// rights (rather than because another program has it open).
bool PortForbidden(const QString &name);

// The group a user joins to be allowed the port; empty where the system
// has no such thing.
QString PortAccessGroup(const QString &name);

#endif // PORTS_H
