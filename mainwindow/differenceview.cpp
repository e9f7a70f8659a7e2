#include "differenceview.h"

#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QScrollBar>
#include <QTableView>
#include <QVBoxLayout>

namespace {

// One side of the bytes: the same model in both halves, each showing its
// own 16 columns.
QTableView *BytesTable(DifferenceBytes *model, DifferenceBytes::Side side, QWidget *parent)
{
    auto *table = new QTableView(parent);
    table->setModel(model);
    table->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    table->setSelectionMode(QAbstractItemView::NoSelection);
    table->setShowGrid(false);
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    table->horizontalHeader()->setMinimumSectionSize(1);
    table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 4);
    const DifferenceBytes::Side other = side == DifferenceBytes::Side::File ? DifferenceBytes::Side::Device
                                                                          : DifferenceBytes::Side::File;
    for (int offset = 0; offset < DifferenceBytes::RowBytes; ++offset)
        table->setColumnHidden(DifferenceBytes::Column(other, offset), true);
    // The row addresses once, on the file's side.
    table->verticalHeader()->setVisible(side == DifferenceBytes::Side::File);
    return table;
}

QWidget *Titled(const QString &title, QWidget *content, QWidget *parent)
{
    auto *box = new QWidget(parent);
    auto *layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new QLabel(title, box));
    layout->addWidget(content);
    return box;
}

} // namespace

DifferenceView::DifferenceView(QWidget *parent)
    : QDialog(parent),
      ranges(new DifferenceRanges(this)),
      bytes(new DifferenceBytes(this)),
      summary(new QLabel(this)),
      cut(new QLabel(this)),
      rangesTable(new QTableView(this)),
      staleNote(new QLabel(this))
{
    ShowTitle();
    staleNote->setText(tr("Устарело: после этой проверки устройство или файл изменились. Проверьте снова."));
    staleNote->setStyleSheet(QStringLiteral("font-weight: bold"));
    staleNote->hide();
    rangesTable->setModel(ranges);
    rangesTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    rangesTable->setSelectionMode(QAbstractItemView::SingleSelection);
    rangesTable->verticalHeader()->setVisible(false);
    rangesTable->horizontalHeader()->setStretchLastSection(true);
    connect(rangesTable->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex &current) { ShowRange(current.row()); });

    QTableView *fileTable = BytesTable(bytes, DifferenceBytes::Side::File, this);
    QTableView *deviceTable = BytesTable(bytes, DifferenceBytes::Side::Device, this);
    // The two sides scroll as one.
    connect(fileTable->verticalScrollBar(), &QScrollBar::valueChanged, deviceTable->verticalScrollBar(),
            &QScrollBar::setValue);
    connect(deviceTable->verticalScrollBar(), &QScrollBar::valueChanged, fileTable->verticalScrollBar(),
            &QScrollBar::setValue);

    auto *sides = new QHBoxLayout;
    sides->addWidget(Titled(tr("Диапазоны"), rangesTable, this), 1);
    sides->addWidget(Titled(tr("Файл"), fileTable, this), 3);
    sides->addWidget(Titled(tr("Устройство"), deviceTable, this), 3);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(staleNote);
    layout->addWidget(summary);
    layout->addLayout(sides);
    layout->addWidget(cut);
    layout->addWidget(buttons);
    resize(1100, 500);
}

void DifferenceView::SetDifferences(const FirmwareImage &newImage, const QVector<FlashDifference> &newDifferences)
{
    image = newImage;
    differences = newDifferences;
    outOfDate = false;
    staleNote->hide();
    ShowTitle();
    ranges->SetDifferences(differences);
    // Address and length whole, however long the list.
    rangesTable->resizeColumnsToContents();
    rangesTable->setMinimumWidth(rangesTable->horizontalHeader()->length() + rangesTable->verticalScrollBar()->sizeHint().width()
                                 + 2 * rangesTable->frameWidth());
    summary->setText(tr("Отличаются %n байт", nullptr, int(DifferingBytes(differences))) + QLatin1Char(' ')
                     + tr("в %n диапазонах", nullptr, differences.size()));
    if (differences.isEmpty())
        return;
    rangesTable->selectRow(0);
    // selectRow() does not move the current row when it was row 0 already.
    ShowRange(0);
}

void DifferenceView::ShowRange(int row)
{
    if (row < 0 || row >= differences.size())
        return;
    bytes->SetRange(image, differences, row);
    cut->setVisible(bytes->BytesLeftOut() > 0);
    cut->setText(tr("Показано начало диапазона: ещё %n байт не показаны", nullptr, int(bytes->BytesLeftOut())));
}

void DifferenceView::MarkOutOfDate()
{
    outOfDate = true;
    staleNote->show();
    ShowTitle();
}

void DifferenceView::ShowTitle()
{
    setWindowTitle(outOfDate ? tr("Различия (устарело)") : tr("Различия"));
}
