#ifndef FLASHMODEL_H
#define FLASHMODEL_H

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// Status bytes the simulated loader answers with. Only StatusOk is
// success to the tool; the others tell a person reading a log why.
enum LoaderStatus : quint8 {
    StatusOk = 0x1F,
    StatusBadCrc = 0x01,
    StatusBadHex = 0x02,
    StatusUnknownCommand = 0x03,
    StatusOutOfRange = 0x04,    // outside the flash or the application area
    StatusNotErased = 0x05,     // a target byte is programmed (and differs, unless strict)
    StatusBadLength = 0x06,     // request data do not match their header
    StatusInjected = 0x0E       // refused on purpose by a BadStatus fault
};

// A NOR flash: erased bytes read 0xFF, erase works on whole pages,
// programming only ever succeeds on erased bytes. A lenient loader also
// lets a byte that already holds the value through, so that a repeated
// write whose acknowledgement was lost still succeeds; STM32F1-class
// flash refuses even that, which strictRewrite models. The loader's own
// pages at the bottom are protected.
class FlashModel
{
public:
    FlashModel(quint32 base, quint32 size, quint32 pageSize, quint32 loaderSize,
               bool strictRewrite = false);

    quint32 Base() const { return base; }
    quint32 Size() const { return quint32(cells.size()); }
    quint32 PageSize() const { return pageSize; }
    quint32 AppStart() const { return base + loaderSize; }
    quint32 AppSize() const { return Size() - loaderSize; }
    quint32 End() const { return base + Size() - 1; }

    bool Contains(quint32 address, quint32 length) const;
    QByteArray Read(quint32 address, int length) const;
    QByteArray Contents() const { return cells; }

    // The page containing the address and count - 1 pages after it.
    LoaderStatus Erase(quint32 address, quint32 count);
    LoaderStatus Write(quint32 address, const QByteArray &data);
    // Sets a byte behind the loader's back, as a worn cell would.
    void Poke(quint32 address, char value);

    // Image files hold the flash from its base; a shorter file leaves the
    // rest erased.
    bool Load(const QString &file, QString *error = nullptr);
    bool Save(const QString &file, QString *error = nullptr) const;

private:
    bool InApp(quint32 address, quint32 length) const;

    quint32 base;
    quint32 pageSize;
    quint32 loaderSize;
    bool strictRewrite;
    QByteArray cells;
};

#endif
