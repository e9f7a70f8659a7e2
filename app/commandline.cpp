#include "commandline.h"

namespace {

// The manual page tamrivo(1) is made from this text by help2man.
const char Usage[] =
    "Usage: tamrivo [--lang LANGUAGE] [Qt options]\n"
    "\n"
    "Opens the window that programs the flash memory of STM32-based devices\n"
    "through their resident serial loader: pick the serial port and connect,\n"
    "and the window reads the device's flash geometry; choose a firmware image\n"
    "and write it. The pages the image needs are erased, every block is read\n"
    "back to verify it, and the application's first block goes in last.\n"
    "\n"
    "Options:\n"
    "  --lang LANGUAGE  the window's language: ru for Russian, anything else\n"
    "                   for English (default: the first language in the\n"
    "                   LANGUAGE variable, else the system's locale)\n"
    "  --help           this text\n"
    "  --version        the program's version\n"
    "Qt's own options, such as -platform NAME and -style NAME, are taken too.\n"
    "\n"
    "tamrivo-cli runs the same jobs without a window, and tamrivo-loader-sim\n"
    "plays a device on a pseudo-terminal.\n";

} // namespace

QString WindowCommandLineText(const QStringList &arguments)
{
    for (int i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (argument == QLatin1String("--lang"))
            ++i; // its value is a language, whatever it spells
        else if (argument == QLatin1String("--help") || argument == QLatin1String("-h"))
            return QString::fromLatin1(Usage);
        else if (argument == QLatin1String("--version"))
            return QStringLiteral("tamrivo " TAMRIVO_VERSION "\n");
    }
    return QString();
}
