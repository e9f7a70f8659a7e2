#ifndef GUITESTMAIN_H
#define GUITESTMAIN_H

#include <QApplication>
#include <QTemporaryDir>
#include <QtTest>

// main() for window tests: offscreen unless a platform is asked for, the
// window's icons registered, and the per-user settings kept in a fresh
// temporary folder so that no test reads or writes the user's own.
#define TAMRIVO_GUI_TEST_MAIN(TestClass)                                   \
    int main(int argc, char *argv[])                                       \
    {                                                                      \
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))                \
            qputenv("QT_QPA_PLATFORM", "offscreen");                       \
        QTemporaryDir configHome;                                          \
        qputenv("XDG_CONFIG_HOME", configHome.path().toLocal8Bit());       \
        Q_INIT_RESOURCE(resources);                                        \
        QApplication app(argc, argv);                                      \
        TestClass test;                                                    \
        return QTest::qExec(&test, argc, argv);                            \
    }

#endif // GUITESTMAIN_H
