#include "productionpanel.h"

#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

// The verdict fills the panel's width in letters several lines tall: the
// operator looks over from the next board, not at the screen.
constexpr int VerdictPointSize = 28;

} // namespace

ProductionPanel::ProductionPanel(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("productionPanel"));
    verdict = new QLabel(QStringLiteral("—"));
    verdict->setObjectName(QStringLiteral("labelVerdict"));
    verdict->setAlignment(Qt::AlignCenter);
    QFont large = verdict->font();
    large.setPointSize(VerdictPointSize);
    large.setBold(true);
    verdict->setFont(large);
    verdict->setAutoFillBackground(true);
    details = new QLabel;
    details->setObjectName(QStringLiteral("labelBoardDetails"));
    details->setWordWrap(true);
    details->setTextInteractionFlags(Qt::TextSelectableByMouse);
    state = new QLabel;
    state->setObjectName(QStringLiteral("labelLineState"));
    counts = new QLabel;
    counts->setObjectName(QStringLiteral("labelTodayCounts"));
    QFont bold = counts->font();
    bold.setBold(true);
    counts->setFont(bold);
    recent = new QTreeWidget;
    recent->setObjectName(QStringLiteral("treeRecentBoards"));
    recent->setHeaderLabels({ tr("Время"), tr("Номер"), tr("Результат") });
    recent->setRootIsDecorated(false);
    recent->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    next = new QPushButton(tr("Следующая плата (%1)").arg(QStringLiteral("F5")));
    next->setObjectName(QStringLiteral("pushButtonNextBoard"));
    automatic = new QCheckBox(tr("Автозапуск: начинать, когда вставлена новая плата"));
    automatic->setObjectName(QStringLiteral("checkBoxAutoStart"));

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(verdict);
    layout->addWidget(details);
    layout->addWidget(next);
    layout->addWidget(automatic);
    layout->addWidget(state);
    layout->addWidget(counts);
    layout->addWidget(recent, 1);
}

void ProductionPanel::ShowBoard(BoardVerdict shown, qint64 serial, const QString &resultClass, const QString &reason)
{
    // A word and a symbol first: the colour only helps those who see it.
    QColor colour;
    switch (shown) {
    case BoardVerdict::Pass:
        verdict->setText(tr("✔ ГОДНА"));
        colour = QColor(0x2e, 0x7d, 0x32);
        break;
    case BoardVerdict::Fail:
        verdict->setText(tr("✘ БРАК"));
        colour = QColor(0xc6, 0x28, 0x28);
        break;
    case BoardVerdict::Stopped:
        verdict->setText(tr("■ ПРЕРВАНО"));
        colour = QColor(0xef, 0x6c, 0x00);
        break;
    }
    QPalette palette = verdict->palette();
    palette.setColor(QPalette::Window, colour);
    palette.setColor(QPalette::WindowText, Qt::white);
    verdict->setPalette(palette);
    QStringList lines;
    lines << (serial >= 0 ? tr("Номер: %1").arg(serial) : tr("Номер: нет"));
    lines << tr("Результат: %1").arg(resultClass);
    if (!reason.isEmpty())
        lines << reason;
    details->setText(lines.join('\n'));
}

void ProductionPanel::ShowState(const QString &text)
{
    state->setText(text);
}

void ProductionPanel::ShowCounts(int passed, int failed)
{
    counts->setText(tr("Сегодня: годных %1, брак %2").arg(passed).arg(failed));
}

void ProductionPanel::ShowStoreTrouble(const QString &text)
{
    counts->setText(tr("Базу записей не удалось прочитать: %1").arg(text));
}

// Newest first; the time is the station's own.
void ProductionPanel::ShowRecent(const QVector<JobRecord> &jobs)
{
    recent->clear();
    for (auto job = jobs.crbegin(); job != jobs.crend(); ++job) {
        const QString serial = job->serial >= 0 ? QString::number(job->serial) : QStringLiteral("—");
        const QString result = job->resultClass == QLatin1String("ok") ? tr("✔ годна") : QStringLiteral("✘ ") + job->resultClass;
        recent->addTopLevelItem(new QTreeWidgetItem({ job->time.toLocalTime().toString(QStringLiteral("HH:mm:ss")),
                                                      serial, result }));
    }
}
