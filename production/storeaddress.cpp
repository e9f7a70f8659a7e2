#include "recordstore.h"

#include <QRegularExpression>

namespace {

// The text as an error may show it, without the user information: what
// stands between the scheme and the last '@', as a password may hold an
// '@' (or a '/', ':', '?', '#') of its own. The logs keep these errors.
QString Shown(const QString &text)
{
    const int at = text.lastIndexOf(QLatin1Char('@'));
    if (at < 0 || text.startsWith(QLatin1String("sqlite:")))
        return text;
    const int scheme = text.indexOf(QLatin1String("://"));
    return (scheme >= 0 && scheme < at ? text.left(scheme + 3) : QString()) + text.mid(at + 1);
}

StoreResult<StoreAddress> Refuse(const QString &text, const QString &why)
{
    StoreResult<StoreAddress> result;
    result.error = QStringLiteral("store address '%1': %2").arg(Shown(text), why);
    return result;
}

} // namespace

StoreResult<StoreAddress> ParseStoreAddress(const QString &text)
{
    StoreResult<StoreAddress> result;
    StoreAddress &address = result.value;
    if (text.startsWith(QLatin1String("sqlite:"))) {
        address.file = text.mid(7);
        if (address.file.isEmpty())
            return Refuse(text, QStringLiteral("no file after sqlite:"));
        return result;
    }

    int schemeLength = 0;
    for (const QLatin1String scheme : {QLatin1String("postgresql://"), QLatin1String("postgres://")}) {
        if (text.startsWith(scheme))
            schemeLength = scheme.size();
    }
    if (schemeLength == 0)
        return Refuse(text, QStringLiteral("expected sqlite:FILE or postgresql://[user@]host[:port]/database"));
    address.kind = StoreAddress::Postgres;
    QString rest = text.mid(schemeLength);

    // The user information runs to the last '@', so that no character of
    // a password can pass for the end of it.
    const int at = rest.lastIndexOf(QLatin1Char('@'));
    if (at >= 0) {
        address.user = rest.left(at);
        if (address.user.contains(QLatin1Char(':')))
            return Refuse(text, QStringLiteral("holds a password; passwords come from PGPASSWORD or ~/.pgpass, "
                                               "not the command line"));
        if (address.user.isEmpty())
            return Refuse(text, QStringLiteral("no user name before @"));
        rest = rest.mid(at + 1);
    }
    const int slash = rest.indexOf(QLatin1Char('/'));
    QString authority = rest.left(slash);
    if (slash < 0 || slash == rest.size() - 1)
        return Refuse(text, QStringLiteral("no database after the host"));
    address.database = rest.mid(slash + 1);
    if (address.database.contains(QRegularExpression(QStringLiteral("[/?#\\s]"))))
        return Refuse(text, QStringLiteral("'%1' is not a database name").arg(address.database));

    // host[:port], the host of an IPv6 address in brackets.
    QString portText;
    bool hasPort = false;
    if (authority.startsWith(QLatin1Char('['))) {
        const int close = authority.indexOf(QLatin1Char(']'));
        if (close < 0 || (close + 1 < authority.size() && authority.at(close + 1) != QLatin1Char(':')))
            return Refuse(text, QStringLiteral("a bracketed host needs its closing ]"));
        address.host = authority.mid(1, close - 1);
        hasPort = close + 1 < authority.size();
        portText = authority.mid(close + 2);
    } else {
        const int colon = authority.indexOf(QLatin1Char(':'));
        address.host = authority.left(colon);
        hasPort = colon >= 0;
        portText = authority.mid(colon + 1);
    }
    if (address.host.isEmpty())
        return Refuse(text, QStringLiteral("no host"));
    if (hasPort) {
        const int port = portText.toInt();
        if (!QRegularExpression(QStringLiteral("^[0-9]{1,5}$")).match(portText).hasMatch() || port < 1 || port > 65535)
            return Refuse(text, QStringLiteral("'%1' is not a port number (1 to 65535)").arg(portText));
        address.port = port;
    }
    return result;
}
