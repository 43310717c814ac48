#include "AlarmHistoryDialog.h"

#include "AlarmHistoryModel.h"
#include "Runtime.h"
#include "TextDatabase.h"

#include <QComboBox>
#include <QDateTimeEdit>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QStandardPaths>
#include <QTableView>
#include <QVBoxLayout>

namespace {
constexpr qint64 hourMs = 60 * 60 * 1000LL;
const char* const spanKeys[] = {"VerlaufAlles", "VerlaufStunde", "VerlaufTag", "VerlaufWoche", "VerlaufFrei"};
} // namespace

AlarmHistoryDialog::AlarmHistoryDialog(Runtime& runtime, const AlarmJournalFilter& scope, const QString& heading, const QString& dateFormat,
                                       const QString& timeFormat, std::function<QString(const QString&)> designation, QWidget* parent)
    : QDialog(parent)
    , m_runtime(runtime)
    , m_heading(heading)
    , m_title(new QLabel(this))
    , m_spanLabel(new QLabel(this))
    , m_span(new QComboBox(this))
    , m_fromLabel(new QLabel(this))
    , m_from(new QDateTimeEdit(this))
    , m_untilLabel(new QLabel(this))
    , m_until(new QDateTimeEdit(this))
    , m_table(new QTableView(this))
    , m_status(new QLabel(this))
{
    setObjectName(QStringLiteral("AlarmHistory"));
    setSizeGripEnabled(true);
    resize(960, 520);
    QFont bold = m_title->font();
    bold.setBold(true);
    m_title->setFont(bold);

    for (int i = 0; i < 5; ++i)
        m_span->addItem(QString());
    for (QDateTimeEdit* edit : {m_from, m_until}) {
        edit->setCalendarPopup(true);
        edit->setDisplayFormat(QStringLiteral("dd.MM.yyyy HH:mm"));
        edit->setEnabled(false);
    }
    const QDateTime now = QDateTime::fromMSecsSinceEpoch(runtime.now());
    m_from->setDateTime(now.addDays(-1));
    m_until->setDateTime(now);

    AlarmJournalFilter whole = scope;
    whole.fromMs = 0;
    whole.untilMs = std::numeric_limits<qint64>::max();
    m_model = new AlarmHistoryModel(runtime, whole, dateFormat, timeFormat, std::move(designation), this);
    m_table->setModel(m_model);
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setSelectionMode(QAbstractItemView::SingleSelection);
    m_table->setAlternatingRowColors(true);
    m_table->setWordWrap(false);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->verticalHeader()->hide();
    // Fixed heights and widths: the view never measures the rows it has not shown yet.
    m_table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    m_table->verticalHeader()->setDefaultSectionSize(m_table->fontMetrics().height() + 6);
    QHeaderView* header = m_table->horizontalHeader();
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setStretchLastSection(true);
    const int widths[] = {135, 280, 195, 150, 55};
    for (int c = 0; c < 5; ++c)
        header->resizeSection(c, widths[c]);
    // One alarm's history names the alarm in its heading; the column would repeat it on every line.
    m_table->setColumnHidden(AlarmHistoryModel::AlarmColumn, !scope.alarm.isEmpty());

    auto* buttons = new QDialogButtonBox(this);
    m_export = buttons->addButton(QString(), QDialogButtonBox::ActionRole);
    m_close = buttons->addButton(QString(), QDialogButtonBox::RejectRole);
    m_export->setAutoDefault(false);

    auto* filterRow = new QHBoxLayout;
    filterRow->addWidget(m_spanLabel);
    filterRow->addWidget(m_span);
    filterRow->addSpacing(12);
    filterRow->addWidget(m_fromLabel);
    filterRow->addWidget(m_from);
    filterRow->addWidget(m_untilLabel);
    filterRow->addWidget(m_until);
    filterRow->addStretch(1);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_status, 1);
    bottom->addWidget(buttons);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_title);
    layout->addLayout(filterRow);
    layout->addWidget(m_table, 1);
    layout->addLayout(bottom);

    connect(m_span, &QComboBox::currentIndexChanged, this, [this] {
        const bool custom = static_cast<Span>(m_span->currentIndex()) == Span::Custom;
        m_from->setEnabled(custom);
        m_until->setEnabled(custom);
        applySpan();
    });
    for (QDateTimeEdit* edit : {m_from, m_until})
        connect(edit, &QDateTimeEdit::dateTimeChanged, this, [this] {
            if (static_cast<Span>(m_span->currentIndex()) == Span::Custom)
                applySpan();
        });
    connect(m_export, &QPushButton::clicked, this, &AlarmHistoryDialog::chooseExportFile);
    connect(m_close, &QPushButton::clicked, this, &QDialog::reject);
    connect(m_model, &QAbstractItemModel::rowsInserted, this, &AlarmHistoryDialog::updateStatus);
    connect(m_model, &QAbstractItemModel::modelReset, this, &AlarmHistoryDialog::updateStatus);
    connect(m_model, &AlarmHistoryModel::statusChanged, this, &AlarmHistoryDialog::updateStatus);
    connect(&runtime.texts(), &TextDatabase::languageChanged, this, &AlarmHistoryDialog::retranslate);
    retranslate();
}

AlarmHistoryDialog::~AlarmHistoryDialog() = default;

QString AlarmHistoryDialog::text(const char* key) const
{
    return m_runtime.texts().indexText(key);
}

void AlarmHistoryDialog::retranslate()
{
    setWindowTitle(text("VerlaufTitel"));
    m_title->setText(m_heading);
    m_spanLabel->setText(text("VerlaufZeitraum"));
    for (int i = 0; i < 5; ++i)
        m_span->setItemText(i, text(spanKeys[i]));
    m_fromLabel->setText(text("VerlaufVon"));
    m_untilLabel->setText(text("VerlaufBis"));
    m_export->setText(text("VerlaufExport"));
    m_close->setText(text("VerlaufSchliessen"));
    updateStatus();
}

void AlarmHistoryDialog::setSpan(Span span, qint64 fromMs, qint64 untilMs)
{
    if (span == Span::Custom) {
        // The fields first, quietly, so the span is applied once with both ends.
        const QSignalBlocker blockFrom(m_from);
        const QSignalBlocker blockUntil(m_until);
        m_from->setDateTime(QDateTime::fromMSecsSinceEpoch(fromMs));
        m_until->setDateTime(QDateTime::fromMSecsSinceEpoch(untilMs));
    }
    if (m_span->currentIndex() == static_cast<int>(span))
        applySpan();
    else
        m_span->setCurrentIndex(static_cast<int>(span));
}

void AlarmHistoryDialog::applySpan()
{
    const qint64 now = m_runtime.now();
    qint64 from = 0;
    qint64 until = std::numeric_limits<qint64>::max();
    switch (static_cast<Span>(m_span->currentIndex())) {
    case Span::Everything: break;
    case Span::LastHour: from = now - hourMs; break;
    case Span::LastDay: from = now - 24 * hourMs; break;
    case Span::LastWeek: from = now - 7 * 24 * hourMs; break;
    case Span::Custom: {
        // The fields show minutes: "from 10:05 until 10:15" takes in both whole minutes.
        const auto minute = [](const QDateTime& t) { return t.toMSecsSinceEpoch() / 60000 * 60000; };
        from = minute(m_from->dateTime());
        until = minute(m_until->dateTime()) + 59999;
        break;
    }
    }
    m_model->setTimeSpan(from, until);
    m_table->scrollToTop();
}

QString AlarmHistoryDialog::statusText() const
{
    return m_status->text();
}

void AlarmHistoryDialog::updateStatus()
{
    QString line = text("VerlaufAnzahl").arg(m_model->rowCount()).arg(m_model->totalCount());
    if (!m_model->readError().isEmpty())
        line += QStringLiteral(" — ") + m_model->readError();
    m_status->setText(line);
}

void AlarmHistoryDialog::exportTo(const QString& path, std::function<void(const QString& error)> done)
{
    // One export at a time: a second click while a server still sends pages would write twice.
    m_export->setEnabled(false);
    m_model->exportCsv(path, [this, guard = QPointer<AlarmHistoryDialog>(this), done = std::move(done)](const QString& error) {
        if (!guard)
            return;
        m_export->setEnabled(true);
        done(error.isEmpty() ? QString() : text("VerlaufExportFehler").arg(error));
    });
}

void AlarmHistoryDialog::chooseExportFile()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString suggested = folder + QStringLiteral("/alarms-") + QDateTime::fromMSecsSinceEpoch(m_runtime.now()).toString(QStringLiteral("yyyyMMdd-HHmm"))
        + QStringLiteral(".csv");
    const QString path = QFileDialog::getSaveFileName(this, text("VerlaufExport"), suggested, QStringLiteral("CSV (*.csv)"));
    if (path.isEmpty())
        return;
    exportTo(path, [this](const QString& error) {
        if (!error.isEmpty())
            QMessageBox::warning(this, QStringLiteral("Kalvora"), error);
    });
}
