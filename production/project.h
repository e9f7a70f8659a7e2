#ifndef PROJECT_H
#define PROJECT_H

#include "firmwareimage.h"
#include "jobsetup.h"
#include "serialnumber.h"

#include <QByteArray>
#include <QString>

#include <optional>

// The serial numbers a project patches into its boards, as the command
// line's --serial-* options give them.
struct ProjectSerial
{
    quint32 address = 0;
    SerialFormat format;
    QString pool = QStringLiteral("default");
    std::optional<qint64> first;    // unset: the pool's own, or 1 for a new pool
    std::optional<qint64> last;     // unset: the pool's own, or the largest the format holds
    bool voidOnFail = false;
};

// What an engineer hands an operator: the image, locked by its SHA-256,
// the device it is for, how it is written and, for production, the
// serial numbers, the record store and the station.
struct Project
{
    QString file;                   // the project file's absolute path
    QString image;                  // as stored: relative to the project's folder, forward slashes
    QByteArray sha256;              // of the image file, lower-case hex
    Geometry geometry;
    int blockSize = 64;
    bool skipUnchanged = false;
    bool firstBlockLast = true;
    std::optional<ProjectSerial> serial;
    QString store;                  // as --db takes it, never with a password; empty: none
    QString station;                // empty: the host's name
};

// The image's absolute path: image as stored, taken from the project
// file's folder (an absolute one as it is).
QString ImagePath(const Project &project);

// Empty when path holds a project this version reads, else why not, in
// words naming the key. project->file becomes path's absolute path.
QString LoadProject(const QString &path, Project *project);

// Writes project to path in one go: image is stored relative to path's
// folder, its SHA-256 taken from the file as it lies now, a password
// dropped from the store's address. Empty when written, else why not.
QString SaveProject(const QString &path, const Project &project);

// Why the image file with this SHA-256 is not the one the project was
// saved with; empty when it is.
QString ImageChanged(const Project &project, const QByteArray &sha256);

// Why a device reporting this flash is not the one the project is for;
// empty when it is. Nothing may be erased on such a device.
QString GeometryMisfit(const Geometry &project, const Geometry &device);

// What the first two words of a Cortex-M vector table at the start address
// say of an image: the stack pointer the core loads and the reset handler
// it jumps to. Fine also when the image holds nothing at the start.
struct VectorTable
{
    enum Verdict { Fine, StackErased, StackUnaligned, StackInFlash, ResetEven, ResetBelowStart, ResetOutside };
    Verdict verdict = Fine;
    quint32 stack = 0;
    quint32 reset = 0;
    std::optional<quint32> linkedFor;   // ResetBelowStart: the address the image seems linked for
};
VectorTable ReadVectorTable(const FirmwareImage &image, const Geometry &geometry);

// The same in words; empty when the table is fine.
QString VectorTableProblem(const FirmwareImage &image, const Geometry &geometry);

#endif // PROJECT_H
