#include "frmSelection.h"

#include "ArchiveCatalog.h"
#include "ArchiveTrendInfo.h"
#include "Commands.h"
#include "KalvoraError.h"
#include "QMTrend.h"
#include "QMTrendLegend.h"
#include "ScreenHost.h"
#include "TopLevelError.h"
#include "Twips.h"

#include <QComboBox>
#include <QDebug>
#include <QGroupBox>
#include <QHeaderView>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTreeWidget>

namespace {

const QString freeTrendScreen = QStringLiteral("frmTrendSelection");
const QString chartName = QStringLiteral("trdDummy");
const QString legendName = QStringLiteral("legTrends");
constexpr float firstColumnShrinkTwips = 120.0f;

void showPlainMessage(QWidget& dialog, const QString& text)
{
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Kalvora"), text, QMessageBox::Ok, &dialog);
    box.exec();
}

frmSelection::MessageSink& messageSink()
{
    static frmSelection::MessageSink sink;
    return sink;
}

QByteArray slotProperty(const char* word, int slot)
{
    return QByteArray(word) + QByteArray::number(slot);
}

void writeSlot(QObject& chart, const char* word, int slot, const QVariant& value)
{
    const QByteArray name = slotProperty(word, slot);
    if (!chart.setProperty(name.constData(), value))
        throw KalvoraError(QStringLiteral("The chart %1 has no property %2").arg(chart.objectName(), QString::fromLatin1(name)));
}

// Qt makes an entry current without highlighting it when a list takes the focus or loses its current
// entry; only the highlighted entry is one the operator picked, by click or by key.
template <class Item, class View>
Item* pickedEntry(const View& view)
{
    const QList<Item*> picked = view.selectedItems();
    return picked.size() == 1 ? picked.first() : nullptr;
}

// Before entries go, the list drops its current entry: otherwise Qt makes the next one current and
// highlights it, and the next ">" or "<" would move an entry nobody picked.
void forgetPick(QAbstractItemView& view)
{
    view.setCurrentIndex(QModelIndex());
}

QString readSlot(const QObject& chart, const char* word, int slot)
{
    const QByteArray name = slotProperty(word, slot);
    const QVariant value = chart.property(name.constData());
    if (!value.isValid())
        throw KalvoraError(QStringLiteral("The chart %1 has no property %2").arg(chart.objectName(), QString::fromLatin1(name)));
    return value.toString();
}

} // namespace

frmSelection::frmSelection(ScreenHost& host, WindowManager& manager)
    : Window(manager, QStringLiteral("frmSelection"))
    , m_host(host)
{
}

frmSelection::MessageSink frmSelection::setMessageSink(MessageSink sink)
{
    return std::exchange(messageSink(), std::move(sink));
}

Qt::WindowFlags frmSelection::windowFlags() const
{
    return Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint;
}

void frmSelection::onLoad()
{
    m_catalog = nullptr;
    m_archiveNames.clear();
    m_trendNames.clear();
    applyLanguageTexts();

    const auto handle = [this](QPushButton& button, void (frmSelection::*action)()) {
        connect(&button, &QPushButton::clicked, this, [this, action] { TopLevelError::guarded([this, action] { (this->*action)(); }); });
    };
    handle(control<QPushButton>(QStringLiteral("cmdAdd")), &frmSelection::addOne);
    handle(control<QPushButton>(QStringLiteral("cmdAddAll")), &frmSelection::addAll);
    handle(control<QPushButton>(QStringLiteral("cmdRemove")), &frmSelection::removeOne);
    handle(control<QPushButton>(QStringLiteral("cmdRemoveAll")), &frmSelection::removeAll);
    handle(control<QPushButton>(QStringLiteral("cmdOK")), &frmSelection::cmdOK_Click);
    handle(control<QPushButton>(QStringLiteral("cmdAbort")), &frmSelection::unload);
    connect(&lstAll(), &QListWidget::itemDoubleClicked, this, [this] { TopLevelError::guarded([this] { addOne(); }); });
    connect(&lvwSelected(), &QTreeWidget::itemDoubleClicked, this, [this] { TopLevelError::guarded([this] { removeOne(); }); });
    connect(&cboArchives(), &QComboBox::currentIndexChanged, this, [this](int index) {
        if (index >= 0)
            TopLevelError::guarded([this] { cboArchives_Click(); });
    });

    m_host.setCurrentScreen(*this);
}

void frmSelection::onActivate()
{
    renewCatalog();
    QComboBox& archives = cboArchives();
    {
        // The entries arrive without a selection; the selection below is what raises the click.
        const QSignalBlocker quiet(archives);
        archives.clear();
        m_catalog->GetArchives(m_archiveNames);
        for (const QString& name : std::as_const(m_archiveNames))
            archives.addItem(name);
        archives.setCurrentIndex(-1);
    }
    LoadSelectedTrends();
    archives.setCurrentIndex(0); // nothing to select, and so no click, when there are no archives

    QHeaderView& header = *lvwSelected().header();
    header.resizeSection(0, Twips::toPixels(Twips::fromPixels(header.sectionSize(0)) - firstColumnShrinkTwips));
}

void frmSelection::onCloseRequest()
{
    // Closing the dialog from its title bar is a cancel, as an operator expects of a dialog.
    unload();
}

void frmSelection::setLanguageTexts(int languageId)
{
    m_textLanguage = languageId;
    applyLanguageTexts();
}

void frmSelection::applyLanguageTexts()
{
    if (m_textLanguage == 0)
        return; // no switch yet: the stored captions stand
    const bool german = m_textLanguage == LanguageGerman;
    widget().setWindowTitle(german ? QStringLiteral("Trendauswahl") : QStringLiteral("Trend Selection"));
    control<QGroupBox>(QStringLiteral("fraAll")).setTitle(german ? QStringLiteral("Vorhandene Trends") : QStringLiteral("Existing Trends"));
    control<QGroupBox>(QStringLiteral("fraSelected"))
        .setTitle(german ? QStringLiteral("Ausgewählte Trends:") : QStringLiteral("Selected Trends:"));
    control<QPushButton>(QStringLiteral("cmdAbort")).setText(german ? QStringLiteral("Abbrechen") : QStringLiteral("Cancel"));
}

void frmSelection::showMessage(const QString& text)
{
    if (const MessageSink& sink = messageSink())
        sink(widget(), text);
    else
        showPlainMessage(widget(), text);
}

QListWidget& frmSelection::lstAll() { return control<QListWidget>(QStringLiteral("lstAll")); }
QComboBox& frmSelection::cboArchives() { return control<QComboBox>(QStringLiteral("cboArchives")); }
QTreeWidget& frmSelection::lvwSelected() { return control<QTreeWidget>(QStringLiteral("lvwSelected")); }

QString frmSelection::shownArchive()
{
    QComboBox& archives = cboArchives();
    return archives.currentIndex() >= 0 ? archives.itemText(archives.currentIndex()) : QString();
}

void frmSelection::renewCatalog()
{
    delete m_catalog;
    // Owned by the dialog's widgets, so it goes when the dialog is discarded.
    m_catalog = new ArchiveCatalog(m_host.runtime(), &widget());
}

bool frmSelection::isSelected(const QString& trend, const QString& archive)
{
    QTreeWidget& rows = lvwSelected();
    for (int i = 0; i < rows.topLevelItemCount(); ++i) {
        const QTreeWidgetItem& row = *rows.topLevelItem(i);
        if (row.text(0) == trend && row.text(1) == archive)
            return true;
    }
    return false;
}

void frmSelection::appendRow(const QString& trend, const QString& archive)
{
    QTreeWidget& rows = lvwSelected();
    new QTreeWidgetItem(&rows, QStringList{trend, archive});
}

void frmSelection::LoadSelectedTrends()
{
    renewCatalog();
    QTreeWidget& rows = lvwSelected();
    rows.clear();
    const QComboBox& archives = cboArchives();
    const QObject& chart = m_host.window(freeTrendScreen).control<QMTrend>(chartName);
    for (int slot = 1; slot <= QMTrend::SlotCount; ++slot) {
        const QString trend = readSlot(chart, "Trend", slot);
        const QString archive = readSlot(chart, "Archive", slot);
        if (trend.isEmpty())
            continue;
        // One row per slot, however many archives list the name: the selection never outgrows the slots.
        for (int i = 0; i < archives.count(); ++i) {
            m_catalog->GetTrends(archives.itemText(i), m_trendNames);
            if (m_trendNames.contains(trend)) {
                appendRow(trend, archive);
                break;
            }
        }
    }
}

void frmSelection::cboArchives_Click()
{
    renewCatalog();
    const QString archive = shownArchive();
    m_catalog->GetTrends(archive, m_trendNames);
    QListWidget& available = lstAll();
    available.clear();
    for (const QString& trend : std::as_const(m_trendNames)) {
        if (!isSelected(trend, archive))
            available.addItem(trend);
    }
}

void frmSelection::addOne()
{
    QListWidget& available = lstAll();
    QListWidgetItem* current = pickedEntry<QListWidgetItem>(available);
    if (!current)
        return;
    if (lvwSelected().topLevelItemCount() >= MaxRows) {
        showMessage(QStringLiteral("Sie haben bereits 8 Trends ausgewählt!"));
        return;
    }
    appendRow(current->text(), shownArchive());
    forgetPick(available);
    delete current;
}

void frmSelection::addAll()
{
    QListWidget& available = lstAll();
    const int count = available.count();
    forgetPick(available);
    for (int i = 0; i < count; ++i) {
        if (lvwSelected().topLevelItemCount() >= MaxRows) {
            showMessage(QStringLiteral("Die restlichen Trends konnten nicht übernommen werden, da schon 8 Trends ausgewählt sind!"));
            return;
        }
        appendRow(available.item(0)->text(), shownArchive());
        delete available.takeItem(0);
    }
}

void frmSelection::removeOne()
{
    QTreeWidget& rows = lvwSelected();
    QTreeWidgetItem* current = pickedEntry<QTreeWidgetItem>(rows);
    if (!current)
        return;
    if (current->text(1) == shownArchive())
        lstAll().addItem(current->text(0));
    forgetPick(rows);
    delete current;
}

void frmSelection::removeAll()
{
    QTreeWidget& rows = lvwSelected();
    if (rows.topLevelItemCount() == 0)
        return;
    const QString archive = shownArchive();
    for (int i = 0; i < rows.topLevelItemCount(); ++i) {
        const QTreeWidgetItem& row = *rows.topLevelItem(i);
        if (row.text(1) == archive)
            lstAll().addItem(row.text(0));
    }
    rows.clear();
}

void frmSelection::cmdOK_Click()
{
    Window& screen = m_host.window(freeTrendScreen);
    auto& chart = screen.control<QMTrend>(chartName);
    for (int slot = 1; slot <= QMTrend::SlotCount; ++slot) {
        writeSlot(chart, "Archive", slot, QString());
        writeSlot(chart, "Trend", slot, QString());
    }
    if (!m_catalog)
        renewCatalog();
    QTreeWidget& rows = lvwSelected();
    for (int slot = 1; slot <= rows.topLevelItemCount() && slot <= QMTrend::SlotCount; ++slot) {
        const QTreeWidgetItem& row = *rows.topLevelItem(slot - 1);
        const QString trend = row.text(0);
        const QString archive = row.text(1);
        writeSlot(chart, "Archive", slot, archive);
        writeSlot(chart, "Trend", slot, trend);
        if (const ArchiveTrendInfo* info = m_catalog->findTrendInfo(archive, trend))
            writeSlot(chart, "MaxValue", slot, info->RangeMax());
        else
            writeRangeOfUnlistedTrend(chart, slot, archive, trend);
    }
    chart.ApplyCurveSettings();
    screen.control<QMTrendLegend>(legendName).UpdateLegend();
    unload();
}

void frmSelection::writeRangeOfUnlistedTrend(QObject& chart, int slot, const QString& archive, const QString& trend)
{
    // The row came from a slot whose archive does not list the trend; the curve is kept as the slot had
    // it, with the range of an archive that does list the name.
    QStringList archives;
    m_catalog->GetArchives(archives);
    for (const QString& other : std::as_const(archives)) {
        if (const ArchiveTrendInfo* info = m_catalog->findTrendInfo(other, trend)) {
            writeSlot(chart, "MaxValue", slot, info->RangeMax());
            qWarning().noquote() << "frmSelection: archive" << archive << "has no trend" << trend << "; slot" << slot
                                 << "takes the range of archive" << other;
            return;
        }
    }
    qWarning().noquote() << "frmSelection: no archive lists trend" << trend << "; slot" << slot << "keeps its range";
}
