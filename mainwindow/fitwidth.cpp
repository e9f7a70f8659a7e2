#include "fitwidth.h"

#include <QComboBox>
#include <QFontMetrics>
#include <QLineEdit>
#include <QSpinBox>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QStyleOptionSpinBox>

namespace {

// An edit field draws its text inside a margin and keeps room for the
// cursor after the last character; a space's width covers both.
int TextRoom(const QFontMetrics &metrics, int textWidth)
{
    return textWidth + metrics.horizontalAdvance(QLatin1Char(' '));
}

} // namespace

int WidestValueWidth(const QFontMetrics &metrics, int minimum, int maximum, int base)
{
    const QString digits = QStringLiteral("0123456789abcdefghijklmnopqrstuvwxyz").left(base);
    const int count = qMax(QString::number(minimum, base).size(), QString::number(maximum, base).size());
    // A whole run of each digit is measured: Qt 6 lays text out at
    // fractional advances and rounds only the total, so a digit's rounded
    // width times the count can fall short of a number's width.
    int width = 0;
    for (const QChar digit : digits)
        width = qMax(width, metrics.horizontalAdvance(QString(count, digit)));
    return width;
}

void FitSpinBox(QSpinBox *box)
{
    const QFontMetrics metrics(box->font());
    const int text = metrics.horizontalAdvance(box->prefix() + box->suffix())
        + WidestValueWidth(metrics, box->minimum(), box->maximum(), box->displayIntegerBase());
    QStyleOptionSpinBox option;
    option.initFrom(box);
    option.buttonSymbols = box->buttonSymbols();
    option.frame = box->hasFrame();
    option.subControls = QStyle::SC_SpinBoxFrame | QStyle::SC_SpinBoxEditField | QStyle::SC_SpinBoxUp
        | QStyle::SC_SpinBoxDown;
    const QSize contents(TextRoom(metrics, text), box->sizeHint().height());
    box->setMinimumWidth(box->style()->sizeFromContents(QStyle::CT_SpinBox, &option, contents, box).width());
}

void FitComboBox(QComboBox *box, const QStringList &texts)
{
    const QFontMetrics metrics(box->font());
    int text = 0;
    for (const QString &value : texts)
        text = qMax(text, metrics.horizontalAdvance(value));
    QStyleOptionComboBox option;
    option.initFrom(box);
    option.editable = box->isEditable();
    option.frame = box->hasFrame();
    const QSize contents(TextRoom(metrics, text), box->height());
    box->setFixedWidth(box->style()->sizeFromContents(QStyle::CT_ComboBox, &option, contents, box).width());
}
