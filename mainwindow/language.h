#ifndef LANGUAGE_H
#define LANGUAGE_H

#include <QLocale>
#include <QString>
#include <QStringList>

// The language the window speaks, "ru" or "en": from --lang, else from
// the LANGUAGE variable, else from the system's locale. Russian is the
// texts' own language; every other one gets English.
QString UiLanguage(const QStringList &arguments, const QString &languageVariable, const QLocale &system);

// Puts the window's texts and Qt's own (standard buttons, file dialog) in
// that language, replacing what an earlier call installed. Qt's files are
// used when the system has them. False if the window's own are missing.
bool InstallTranslations(const QString &language);

#endif // LANGUAGE_H
