#include "sqldrivers.h"

// On Windows a driver is a plugin in the program's own folder.
QString SqlDriverSource(const QString &driver)
{
    return QStringLiteral("its plugin, sqldrivers\\%1.dll, belongs beside the program, with the libraries it needs")
        .arg(driver.toLower());
}
