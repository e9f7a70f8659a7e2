// What the bytes at a serial number's place are, and what a board carrying
// them keeps or loses, fed straight to the pure functions.

#include "seriallifecycle.h"
#include "serialnumber.h"

#include <QRandomGenerator>
#include <QTest>

namespace {

// A table of text columns; each row starts with its name.
void Table(std::initializer_list<const char *> columns, std::initializer_list<QStringList> rows)
{
    for (const char *column : columns)
        QTest::addColumn<QString>(column);
    for (const QStringList &row : rows) {
        QTestData &data = QTest::newRow(row[0].toLatin1().constData());
        for (const QString &value : row.mid(1))
            data << value;
    }
}

SerialFormat Layout(const QString &name)
{
    SerialFormat format{SerialFormat::Le32, -1, false};
    ParseSerialFormat(name, &format);
    return format;
}

QString Show(const SerialReading &reading)
{
    QString text = QStringList{"blank", "valid", "plain", "damaged"}.at(reading.kind);
    for (qint64 number : reading.Numbers())
        text += ' ' + QString::number(number);
    return text;
}

} // namespace

class TestSerialPlace : public QObject
{
    Q_OBJECT

private slots:
    // Bytes at the place and what they read as; a number read is the one
    // that puts those very bytes there. Damage as flash takes it: a bit
    // cleared, or a power cut between half-words (erased ones) or inside
    // one (bits left set).
    void decode_data()
    {
        Table({"format", "bytes", "reading"}, {{"le32, any word is a number", "le32", "78563412", "plain 305419896"},
            
            {"le32, the largest", "le32", "feffffff", "plain 4294967294"}, {"dec6, leading zeros", "dec6", "303030303432", "plain 42"},
            {"dec8, not all digits", "dec8", "2030303031303032", "damaged"}, {"le32c, erased", "le32c", "ffffffffffffffff", "blank"},
            {"le32c: the number, then its complement", "le32c", "ea03000015fcffff", "valid 1002"},
            {"be32c", "be32c", "000003eafffffc15", "valid 1002"},
            {"dec8c: the digits, then Luhn's", "dec8c", "303030303130303235", "valid 1002"},
            {"dec10c, Luhn's own example", "dec10c", "3739393237333938373133", "valid 7992739871"},
            {"dec17c, the largest", "dec17c", "3939393939393939393939393939393939" "37", "valid 99999999999999999"},
            {"dec18c: too long", "dec18c", "", "refused"},
            {"le32c, a bit cleared in the number", "le32c", "e803000015fcffff", "damaged 1000 1002"},
            {"le32c, a bit cleared in the complement", "le32c", "ea03000014fcffff", "damaged 1002 1003"},
            {"be32c, a bit left set", "be32c", "000003ebfffffc15", "damaged 1003 1002"},
            {"le32c, the complement never written", "le32c", "ea030000ffffffff", "damaged 1002"},
            {"le32c, the number never written", "le32c", "ffffffff15fcffff", "damaged 1002"},
            {"le32c, one half-word written", "le32c", "ea03ffffffffffff", "damaged 4294902762"},
            {"le32c, all ones and zeros", "le32c", "ffffffff00000000", "damaged"}, {"le32c, all zeros", "le32c", "0000000000000000", "damaged 0"},
            {"dec8c, a bit cleared in a digit", "dec8c", "303030303130303035", "damaged 1000 40001000 2001000 401000 21000 5000 1200 1040 1002"},
            {"dec8c, a bit cleared in the check digit", "dec8c", "303030303130303234", "damaged 1002 10001002 101002 1012"},
            {"dec8c, half of it written", "dec8c", "30303030ffffffffff", "damaged"},
            {"dec8c, a digit left erased", "dec8c", "3030ff303130303235", "damaged 1002"}});
    }
    void decode()
    {
        QFETCH(QString, format);
        QFETCH(QString, bytes);
        QFETCH(QString, reading);
        const SerialFormat layout = Layout(format);
        QCOMPARE(layout.digits < 0 ? "refused" : SerialFormatName(layout), reading == "refused" ? "refused" : format);
        if (layout.digits < 0)
            return;
        QCOMPARE(Show(DecodeSerial(QByteArray::fromHex(bytes.toLatin1()), layout)), reading);
        if (reading.startsWith("valid") || reading.startsWith("plain"))
            QCOMPARE(QString(EncodeSerial(reading.section(' ', 1).toLongLong(), layout).toHex()), bytes);
        QVERIFY(EncodeSerial(layout.Largest() + 1, layout).isEmpty() && EncodeSerial(-1, layout).isEmpty());
    }

    // No damage makes a checked number read as a valid one but itself:
    // every one-bit change, either way, with the number among the
    // candidates; every run of half-words left erased from either end; and
    // for the 32-bit layouts any bits left set, or cleared.
    void damage_data()
    {
        Table({"format", "number"}, {{"le32c", "le32c", "1002"}, {"be32c", "be32c", "1515890085"}, {"dec8c", "dec8c", "31415926"},
                                     {"dec5c", "dec5c", "90817"}});
    }
    void damage()
    {
        QFETCH(QString, format);
        QFETCH(QString, number);
        const SerialFormat layout = Layout(format);
        const QByteArray whole = EncodeSerial(number.toLongLong(), layout);
        QRandomGenerator random(7);
        for (int i = 0; i < whole.size() * 8 + 40000; ++i) {
            QByteArray bytes = whole;
            if (i < whole.size() * 8) {         // one bit changed
                bytes[i / 8] = char(bytes[i / 8] ^ (1 << i % 8));
                QVERIFY2(DecodeSerial(bytes, layout).candidates.contains(number.toLongLong()), bytes.toHex().constData());
            } else if (i < whole.size() * 8 + whole.size()) {     // half-words left erased from either end
                const int cut = (i - whole.size() * 8) & ~1, length = i % 2 ? cut : whole.size() - cut;
                bytes.replace(i % 2 ? 0 : cut, length, QByteArray(length, '\xFF'));
            } else if (!format.startsWith("dec")) {                // any bits left set, or cleared
                for (char &byte : bytes)
                    byte = char(i % 2 ? byte | (random.bounded(256) & random.bounded(256)) : byte & ~(random.bounded(256) & random.bounded(256)));
            }
            QVERIFY2(bytes == whole || DecodeSerial(bytes, layout).kind != SerialReading::Valid, bytes.toHex().constData());
        }
    }

    // The board reads le32c 1002 (valid), le32 1002 (plain), le32c damaged
    // to 1000 over 1002, or erased. known: the pool's numbers, "N:STATE",
    // reserved ones "here" (this station and port), "port" (this station,
    // another port) or elsewhere.
    void decide_data()
    {
        Table({"bytes", "known", "decision"}, {{"checked, committed", "valid", "1002:committed", "keep 1002"},
            {"checked, held", "valid", "1002:held", "keep 1002"},
            {"checked, reserved elsewhere: no job runs on this board", "valid", "1002:reserved", "keep 1002"},
            {"checked, this socket's in doubt, another with it", "valid", "1002:reserved:here 1005:reserved:here 1006:reserved:port",
             "keep 1002 void 1005"},
            {"checked, free", "valid", "1002:free", "new replaced 1002"}, {"checked, never given out", "valid", "", "new replaced 1002"},
            {"plain, committed", "plain", "1002:committed", "new replaced 1002"},
            {"plain, held", "plain", "1002:held", "new void 1002 replaced 1002"},
            {"plain, in doubt here", "plain", "1002:reserved:here", "new void 1002 replaced 1002"},
            {"plain, reserved at another port", "plain", "1002:reserved:port", "new replaced 1002"},
            {"damaged, into a committed number", "damaged", "1000:committed 1002:held", "new void 1002 replaced 1002"},
            {"damaged, the other half in doubt elsewhere", "damaged", "1000:committed 1002:reserved", "new replaced 1002"},
            {"damaged, committed", "damaged", "1000:committed", "new replaced 1000"},
            {"blank, a number in doubt here", "blank", "1005:reserved:here 1006:held", "new void 1005"}});
    }
    void decide()
    {
        QFETCH(QString, bytes);
        QFETCH(QString, known);
        QFETCH(QString, decision);
        const QMap<QString, QString> places{{"valid", "ea03000015fcffff"}, {"plain", "ea030000"},
                                            {"damaged", "e803000015fcffff"}, {"blank", "ffffffffffffffff"}};
        const QStringList states{"reserved", "committed", "free", "void", "held"};
        QVector<SerialEntry> entries;
        for (const QString &item : known.split(' ', Qt::SkipEmptyParts)) {
            const QStringList parts = item.split(':');
            entries.append({"p", parts[0].toLongLong(), SerialState(states.indexOf(parts[1])),
                            parts.value(2).isEmpty() ? "st2" : "st1", parts.value(2) == "here" ? "ttyA" : "ttyB", {}});
        }
        const SerialDecision decided = DecideSerial(DecodeSerial(QByteArray::fromHex(places[bytes].toLatin1()),
                                                                 Layout(bytes == "plain" ? "le32" : "le32c")), entries, "st1", "ttyA");
        QStringList got{decided.keep ? QStringLiteral("keep %1").arg(*decided.keep) : "new"};
        for (qint64 serial : decided.voids)
            got << (got.size() == 1 ? "void " : "") + QString::number(serial);
        if (decided.replaced >= 0)
            got << QStringLiteral("replaced %1").arg(decided.replaced);
        QCOMPARE(got.join(' '), decision);
    }
};

QTEST_GUILESS_MAIN(TestSerialPlace)
#include "tst_serialplace.moc"
