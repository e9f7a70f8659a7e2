#include "language.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>
#include <QVector>

#include <utility>

namespace {

QString Chosen(const QString &name)
{
    return name.left(2).toLower() == QLatin1String("ru") ? QStringLiteral("ru") : QStringLiteral("en");
}

QString TranslationsPath()
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    return QLibraryInfo::path(QLibraryInfo::TranslationsPath);
#else
    return QLibraryInfo::location(QLibraryInfo::TranslationsPath);
#endif
}

QVector<QTranslator *> &Installed()
{
    static QVector<QTranslator *> translators;
    return translators;
}

bool Install(const QString &file, const QString &folder)
{
    auto *translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(file, folder)) {
        delete translator;
        return false;
    }
    QCoreApplication::installTranslator(translator);
    Installed().append(translator);
    return true;
}

} // namespace

QString UiLanguage(const QStringList &arguments, const QString &languageVariable, const QLocale &system)
{
    const int option = arguments.indexOf(QStringLiteral("--lang"), 1);
    if (option > 0 && option + 1 < arguments.size())
        return Chosen(arguments.at(option + 1));
    // LANGUAGE is a list in order of preference, such as "ru_RU:en".
    const QString first = languageVariable.section(QLatin1Char(':'), 0, 0);
    if (!first.isEmpty())
        return Chosen(first);
    return system.language() == QLocale::Russian ? QStringLiteral("ru") : QStringLiteral("en");
}

bool InstallTranslations(const QString &language)
{
    Q_INIT_RESOURCE(translations);
    for (QTranslator *translator : std::as_const(Installed())) {
        QCoreApplication::removeTranslator(translator);
        delete translator;
    }
    Installed().clear();
    QLocale::setDefault(QLocale(language));

    // Qt's own texts in the same language as the window's, so that no
    // dialog mixes two languages; English is their source.
    for (const char *module : { "qtbase_", "qtserialport_" })
        Install(QLatin1String(module) + language, TranslationsPath());
    // Russian too: the source texts have one form for every count.
    return Install(QStringLiteral("tamrivo_") + language, QStringLiteral(":/translations"));
}
