#ifndef ELIDEDLABEL_H
#define ELIDEDLABEL_H

#include <QLabel>

// A one-line label for a text of any length: it shows what its width
// allows, the middle left out so that a path keeps its start and its file
// name, and the whole text as its tooltip. It asks for no width of its
// own, so a long message can never widen the window it sits in.
class ElidedLabel : public QLabel
{
    Q_OBJECT

public:
    using QLabel::QLabel;

    // The text as drawn at the label's width now.
    QString Shown() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
};

#endif // ELIDEDLABEL_H
