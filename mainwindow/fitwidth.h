#ifndef FITWIDTH_H
#define FITWIDTH_H

#include <QStringList>

class QComboBox;
class QFontMetrics;
class QSpinBox;

// Width of the widest text a number field of the given range and base can
// show: as many of the font's widest digit as the longer bound has.
int WidestValueWidth(const QFontMetrics &metrics, int minimum, int maximum, int base);

// Widens the box for every value of its range, in its current font.
void FitSpinBox(QSpinBox *box);
// Sizes the box for the longest of the texts, in its current font.
void FitComboBox(QComboBox *box, const QStringList &texts);

#endif // FITWIDTH_H
