#include "QMSAlarmList.h"

#include "AlarmEngine.h"
#include "AlarmHistoryDialog.h"
#include "AlarmTimeFormat.h"
#include "Runtime.h"
#include "TextDatabase.h"

#include <QDateTime>
#include <QFocusEvent>
#include <QHelpEvent>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QToolTip>
#include <QWheelEvent>
#include <QtEndian>

#include <algorithm>
#include <cstring>

namespace {
constexpr int markWidth = 16;
constexpr int cellInset = 3;
constexpr int rowPadding = 4;
constexpr int frameValuesSize = 32;
const QColor priorityOne(200, 0, 0);
const QColor otherPriority(230, 150, 0);
const QColor returnedText(90, 90, 90);
const QColor quietText(128, 128, 128);

QColor alarmColor(const AlarmInfo& alarm)
{
    return alarm.priority == 1 ? priorityOne : otherPriority;
}

/// Newest first; alarms that came together keep the project's order, as the engine lists them.
bool before(const AlarmInfo& a, const AlarmInfo& b)
{
    return a.cameMs != b.cameMs ? a.cameMs > b.cameMs : a.number < b.number;
}

template <class T>
bool assign(T& member, const T& value)
{
    if (member == value)
        return false;
    member = value;
    return true;
}

bool waitsForAcknowledgement(const AlarmInfo& alarm)
{
    return alarm.state == AlarmState::ActiveUnacknowledged || alarm.state == AlarmState::ReturnedUnacknowledged;
}

QString designationOf(const QString& name, const QString& numberFormat, int number)
{
    return name + QLatin1Char(' ') + QStringLiteral("%1").arg(number, static_cast<int>(numberFormat.size()), 10, QLatin1Char('0'));
}

/// Runs a menu of the list. The menu is the list's child: should the list's window go while the menu
/// is open (a navigation already under way), the list takes the menu with it, and it is not deleted twice.
void execMenu(std::unique_ptr<QMenu> menu, const QPoint& where)
{
    if (menu->isEmpty())
        return;
    const QPointer<QMenu> alive(menu.get());
    menu->exec(where);
    if (!alive)
        (void)menu.release();
}

// Menu texts of the shelve times, in the order of ShelveDurationsMs.
const char* const shelveKeys[] = {"AlarmZurueckstellen15", "AlarmZurueckstellen60", "AlarmZurueckstellen480"};
} // namespace

QMSAlarmList::QMSAlarmList(Runtime& runtime, QWidget* parent)
    : RuntimeControl(runtime, parent, Coverage::Whole)
    , m_scroll(new QScrollBar(Qt::Vertical, this))
    , m_blinkClock(BlinkClock::of(runtime))
{
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    m_scroll->hide();
    connect(m_scroll, &QScrollBar::valueChanged, this, [this] { update(); });
    connect(&m_blinkClock, &BlinkClock::toggled, this, [this] {
        if (m_blink)
            update();
    });
    connect(&runtime.texts(), &TextDatabase::languageChanged, this, &QMSAlarmList::rebuild);
}

QMSAlarmList::~QMSAlarmList() = default;

void QMSAlarmList::setAlarmGroup(const QString& group)
{
    if (m_group && group == m_group->name())
        return;
    for (const QMetaObject::Connection& c : std::as_const(m_connections))
        disconnect(c);
    m_connections.clear();
    m_group = group.isEmpty() ? nullptr : &runtime().alarms().group(group);
    if (m_group) {
        m_connections.append(connect(m_group, &AlarmGroup::alarmChanged, this, &QMSAlarmList::alarmChanged));
        m_connections.append(connect(m_group, &AlarmGroup::changed, this, &QMSAlarmList::groupChanged));
    }
    m_selectedId.clear();
    rebuild();
}

void QMSAlarmList::setColumnCode(const QString& value)
{
    if (assign(m_columnCode, value))
        update();
}

void QMSAlarmList::setColumnWidths(const QString& value)
{
    if (assign(m_columnWidths, value))
        update();
}

void QMSAlarmList::setTimeFormat(const QString& value)
{
    if (assign(m_timeFormat, value))
        update();
}

void QMSAlarmList::setDateFormat(const QString& value)
{
    if (assign(m_dateFormat, value))
        update();
}

void QMSAlarmList::setAlarmName(const QString& value)
{
    if (assign(m_alarmName, value))
        update();
}

void QMSAlarmList::setNumberFormat(const QString& value)
{
    if (assign(m_numberFormat, value))
        update();
}

void QMSAlarmList::setSelectionColor(const QColor& value)
{
    if (assign(m_selectionColor, value))
        update();
}

void QMSAlarmList::setGridColor(const QColor& value)
{
    if (assign(m_gridColor, value))
        update();
}


int QMSAlarmList::Acknowledge()
{
    return m_group ? m_group->acknowledge() : 0;
}

void QMSAlarmList::rebuild()
{
    m_rows = m_group ? m_group->alarms() : QList<AlarmInfo>{};
    m_shelved.clear();
    if (m_group)
        for (const AlarmInfo& a : m_group->shelvedAlarms())
            m_shelved.insert(a.id);
    if (rowOf(m_selectedId) < 0)
        m_selectedId.clear();
    updateScrollBar();
    updateBlinking();
    update();
}

void QMSAlarmList::alarmChanged(const QString& id)
{
    m_batchSeen = true;
    const int old = rowOf(id);
    const AlarmInfo now = runtime().alarms().alarm(id);
    // A shelved alarm is only counted; it comes back in whatever state it has by then.
    const bool listed = now.state != AlarmState::Normal && !now.isShelved();
    const bool wasShelved = m_shelved.contains(id);
    if (now.isShelved())
        m_shelved.insert(id);
    else
        m_shelved.remove(id);
    if (wasShelved != now.isShelved())
        updateScrollBar();
    if (old >= 0 && listed && m_rows.at(old).cameMs == now.cameMs) {
        m_rows[old] = now; // same occurrence, new state: the line stays where it is
    } else {
        if (old >= 0)
            m_rows.removeAt(old);
        if (listed)
            m_rows.insert(std::lower_bound(m_rows.begin(), m_rows.end(), now, before), now);
        else if (id == m_selectedId)
            m_selectedId.clear();
        updateScrollBar();
    }
    updateBlinking();
    update();
}

void QMSAlarmList::groupChanged()
{
    // After a batch of single alarms everything is in place already; alone it means "read it all".
    if (!std::exchange(m_batchSeen, false))
        rebuild();
}

int QMSAlarmList::rowOf(const QString& id) const
{
    if (id.isEmpty())
        return -1;
    for (qsizetype i = 0; i < m_rows.size(); ++i)
        if (m_rows.at(i).id == id)
            return static_cast<int>(i);
    return -1;
}

int QMSAlarmList::currentRow() const
{
    return rowOf(m_selectedId);
}

void QMSAlarmList::pick(int row)
{
    if (row < 0 || row >= m_rows.size())
        return;
    const AlarmInfo alarm = m_rows.at(row);
    m_selectedId = alarm.id;
    scrollTo(row);
    update();
    Q_EMIT AlarmSelected(alarm.number, alarm.id, alarm.text, encodeFrameValues(alarm), alarm.helpTopic, alarm.priority);
}

QString QMSAlarmList::designation(const AlarmInfo& alarm) const
{
    return designationOf(m_alarmName, m_numberFormat, alarm.number);
}

QString QMSAlarmList::cellText(QChar column, const AlarmInfo& alarm) const
{
    const QDateTime came = QDateTime::fromMSecsSinceEpoch(alarm.cameMs);
    switch (column.unicode()) {
    case 'T':
        return AlarmTimeFormat::format(m_dateFormat, came) + QLatin1Char(' ') + AlarmTimeFormat::format(m_timeFormat, came);
    case 'D':
        return AlarmTimeFormat::format(m_dateFormat, came);
    case 'X':
        return alarm.text;
    case 'N':
        return designation(alarm);
    default:
        return {};
    }
}

QString QMSAlarmList::details(const AlarmInfo& alarm) const
{
    const TextDatabase& texts = runtime().texts();
    const auto when = [this](qint64 ms) {
        if (ms <= 0)
            return QStringLiteral("—");
        const QDateTime t = QDateTime::fromMSecsSinceEpoch(ms);
        return AlarmTimeFormat::format(m_dateFormat, t) + QLatin1Char(' ') + AlarmTimeFormat::format(m_timeFormat, t);
    };
    QStringList lines;
    lines << designation(alarm) + QStringLiteral(" (") + alarm.id + QLatin1Char(')') << alarm.text
          << texts.indexText("AlarmGekommen") + QStringLiteral(": ") + when(alarm.cameMs)
          << texts.indexText("AlarmGegangen") + QStringLiteral(": ") + when(alarm.wentMs)
          << texts.indexText("AlarmQuittiert") + QStringLiteral(": ") + when(alarm.acknowledgedMs);
    return lines.join(QLatin1Char('\n'));
}

QString QMSAlarmList::emptyText() const
{
    return text("AlarmListeLeer");
}

QString QMSAlarmList::text(const char* key) const
{
    return runtime().texts().indexText(key);
}

QString QMSAlarmList::shelvedText() const
{
    return text("AlarmZurueckgestellt").arg(shelvedCount());
}

AlarmHistoryDialog* QMSAlarmList::showHistory(const QString& alarmId)
{
    if (!m_group)
        return nullptr;
    AlarmEngine& engine = runtime().alarms();
    const AlarmInfo alarm = engine.alarm(alarmId);
    const QString heading = alarm.id.isEmpty() ? text("VerlaufListeTitel") : designation(alarm) + QStringLiteral("  ") + alarm.text;
    // Copies, not the list: the dialog may outlive the list's widgets by a moment when the window goes.
    auto designate = [&engine, name = m_alarmName, format = m_numberFormat](const QString& id) {
        return designationOf(name, format, engine.alarm(id).number);
    };
    auto* dialog = new AlarmHistoryDialog(runtime(), {alarm.id, m_group->name()}, heading, m_dateFormat, m_timeFormat, designate, window());
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();
    return dialog;
}

std::unique_ptr<QMenu> QMSAlarmList::alarmMenu(int row)
{
    auto menu = std::make_unique<QMenu>(this);
    const QString id = row >= 0 && row < m_rows.size() ? m_rows.at(row).id : QString();
    if (!id.isEmpty()) {
        QAction* history = menu->addAction(text("AlarmVerlauf") + QStringLiteral("\tF2"));
        history->setObjectName(QStringLiteral("history"));
        connect(history, &QAction::triggered, this, [this, id] { showHistory(id); });
    }
    QAction* whole = menu->addAction(text("AlarmVerlaufListe"));
    whole->setObjectName(QStringLiteral("historyAll"));
    connect(whole, &QAction::triggered, this, [this] { showHistory({}); });
    if (!id.isEmpty()) {
        menu->addSeparator();
        QMenu* shelve = menu->addMenu(text("AlarmZurueckstellen"));
        shelve->setObjectName(QStringLiteral("shelve"));
        for (size_t i = 0; i < ShelveDurationsMs.size(); ++i) {
            const qint64 duration = ShelveDurationsMs.at(i);
            QAction* action = shelve->addAction(text(shelveKeys[i]));
            action->setObjectName(QStringLiteral("shelve%1").arg(duration / 60000));
            connect(action, &QAction::triggered, this, [this, id, duration] { runtime().alarms().shelve(id, duration); });
        }
    }
    if (!m_shelved.isEmpty()) {
        menu->addSeparator();
        QMenu* back = menu->addMenu(text("AlarmZurueckholen"));
        back->setObjectName(QStringLiteral("unshelve"));
        addUnshelveActions(*back);
    }
    return menu;
}

std::unique_ptr<QMenu> QMSAlarmList::shelvedMenu()
{
    auto menu = std::make_unique<QMenu>(this);
    addUnshelveActions(*menu);
    return menu;
}

QString QMSAlarmList::shelvedEntry(const AlarmInfo& alarm) const
{
    const QString until = AlarmTimeFormat::format(m_timeFormat, QDateTime::fromMSecsSinceEpoch(alarm.shelvedUntilMs));
    return designation(alarm) + QStringLiteral("  ") + alarm.text + QStringLiteral("  (") + text("AlarmBis").arg(until) + QLatin1Char(')');
}

void QMSAlarmList::addUnshelveActions(QMenu& menu)
{
    if (!m_group)
        return;
    const QList<AlarmInfo> shelved = m_group->shelvedAlarms();
    for (const AlarmInfo& a : shelved) {
        QAction* action = menu.addAction(shelvedEntry(a));
        action->setObjectName(QStringLiteral("unshelve:") + a.id);
        connect(action, &QAction::triggered, this, [this, id = a.id] { runtime().alarms().unshelve(id); });
    }
    if (shelved.size() > 1) {
        menu.addSeparator();
        QAction* all = menu.addAction(text("AlarmAlleZurueckholen"));
        all->setObjectName(QStringLiteral("unshelveAll"));
        QStringList ids;
        for (const AlarmInfo& a : shelved)
            ids.append(a.id);
        connect(all, &QAction::triggered, this, [this, ids] {
            for (const QString& id : ids)
                runtime().alarms().unshelve(id);
        });
    }
}

bool QMSAlarmList::isFlashing(int row) const
{
    return row >= 0 && row < m_rows.size() && waitsForAcknowledgement(m_rows.at(row)) && m_blinkClock.isOn();
}

QByteArray QMSAlarmList::encodeFrameValues(const AlarmInfo& alarm)
{
    QByteArray bytes(frameValuesSize, '\0');
    char* p = bytes.data();
    qToLittleEndian<qint64>(alarm.cameMs, p);
    qToLittleEndian<qint64>(alarm.wentMs, p + 8);
    qToLittleEndian<qint64>(alarm.acknowledgedMs, p + 16);
    qToLittleEndian<qint32>(static_cast<qint32>(alarm.state), p + 24);
    const float value = static_cast<float>(alarm.value);
    quint32 bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    qToLittleEndian<quint32>(bits, p + 28);
    return bytes;
}

QMSAlarmList::FrameValues QMSAlarmList::decodeFrameValues(const QByteArray& bytes)
{
    FrameValues v;
    if (bytes.size() != frameValuesSize)
        return v;
    const char* p = bytes.constData();
    v.cameMs = qFromLittleEndian<qint64>(p);
    v.wentMs = qFromLittleEndian<qint64>(p + 8);
    v.acknowledgedMs = qFromLittleEndian<qint64>(p + 16);
    v.state = qFromLittleEndian<qint32>(p + 24);
    const quint32 bits = qFromLittleEndian<quint32>(p + 28);
    std::memcpy(&v.value, &bits, sizeof bits);
    return v;
}

int QMSAlarmList::rowHeight() const
{
    return fontMetrics().height() + rowPadding;
}

int QMSAlarmList::visibleRows() const
{
    return std::max(1, (height() - 2 - (m_shelved.isEmpty() ? 0 : rowHeight())) / rowHeight());
}

QRect QMSAlarmList::shelvedLine() const
{
    return m_shelved.isEmpty() ? QRect() : QRect(1, height() - 1 - rowHeight(), width() - 2, rowHeight());
}

int QMSAlarmList::rowAt(int y) const
{
    const int row = m_scroll->value() + (y - 1) / rowHeight();
    const int bottom = m_shelved.isEmpty() ? height() - 1 : shelvedLine().top();
    return y >= 1 && y < bottom && row < m_rows.size() ? row : -1;
}

void QMSAlarmList::scrollTo(int row)
{
    if (row < m_scroll->value())
        m_scroll->setValue(row);
    else if (row >= m_scroll->value() + visibleRows())
        m_scroll->setValue(row - visibleRows() + 1);
}

void QMSAlarmList::updateScrollBar()
{
    const int hidden = std::max(0, static_cast<int>(m_rows.size()) - visibleRows());
    const int w = m_scroll->sizeHint().width();
    m_scroll->setGeometry(width() - w - 1, 1, w, height() - 2 - (m_shelved.isEmpty() ? 0 : rowHeight()));
    m_scroll->setRange(0, hidden);
    m_scroll->setPageStep(visibleRows());
    m_scroll->setVisible(hidden > 0);
}

void QMSAlarmList::updateBlinking()
{
    const bool any = std::any_of(m_rows.cbegin(), m_rows.cend(), waitsForAcknowledgement);
    if (any && !m_blink)
        m_blink.emplace(m_blinkClock);
    else if (!any)
        m_blink.reset();
}

QList<int> QMSAlarmList::widths() const
{
    QList<int> result;
    for (const QString& part : m_columnWidths.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        bool ok = false;
        const int w = part.trimmed().toInt(&ok);
        result.append(ok && w > 0 ? w : 0);
    }
    return result;
}

void QMSAlarmList::resizeEvent(QResizeEvent*)
{
    updateScrollBar();
}

void QMSAlarmList::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QColor background = effectiveBackColor();
    const QColor text = effectiveForeColor();
    painter.fillRect(rect(), background);
    const int right = m_scroll->isVisible() ? m_scroll->x() : width() - 1;
    if (m_rows.isEmpty()) {
        QFont quiet = font();
        quiet.setBold(false);
        quiet.setItalic(true);
        painter.setFont(quiet);
        painter.setPen(quietText);
        painter.drawText(QRect(cellInset + 1, 1, right - cellInset, rowHeight()), Qt::AlignLeft | Qt::AlignVCenter, emptyText());
    }
    const QRect shelf = shelvedLine();
    // Lines end above the "shelved" line; a half line at the bottom does not run into it.
    if (!shelf.isNull())
        painter.setClipRect(QRect(0, 0, width(), shelf.top()));
    const QList<int> columnWidths = widths();
    const int h = rowHeight();
    const int first = m_scroll->value();
    const int last = std::min(static_cast<int>(m_rows.size()), first + visibleRows() + 1);
    const bool bright = m_blinkClock.isOn();
    for (int row = first; row < last; ++row) {
        const AlarmInfo& alarm = m_rows.at(row);
        const QRect line(1, 1 + (row - first) * h, right - 1, h);
        const QColor colour = alarmColor(alarm);
        QColor fill = background;
        QColor pen = text;
        QString mark;
        switch (alarm.state) {
        case AlarmState::ActiveUnacknowledged:
            mark = QStringLiteral("!");
            fill = bright ? colour : background;
            pen = bright ? (alarm.priority == 1 ? QColor(Qt::white) : QColor(Qt::black)) : colour.darker(120);
            break;
        case AlarmState::ActiveAcknowledged:
            mark = QStringLiteral("●");
            pen = colour.darker(alarm.priority == 1 ? 100 : 140);
            break;
        case AlarmState::ReturnedUnacknowledged:
            mark = QStringLiteral("○");
            fill = bright ? colour.lighter(170) : background;
            pen = returnedText;
            break;
        case AlarmState::Normal:
            break;
        }
        const bool selected = alarm.id == m_selectedId;
        painter.fillRect(line, selected ? m_selectionColor : fill);
        // The mark leads the text column (or the line when there is none), so the time column keeps
        // its whole width; on the picked line it keeps the state's colour.
        const qsizetype markColumn = std::max<qsizetype>(0, m_columnCode.indexOf(u'X'));
        const bool returned = alarm.state == AlarmState::ReturnedUnacknowledged;
        int x = line.left();
        for (qsizetype c = 0; c < m_columnCode.size(); ++c) {
            const int given = c < columnWidths.size() ? columnWidths.at(c) : 0;
            const int cellWidth = (given > 0 && c + 1 < m_columnCode.size()) ? given : right - x;
            int textLeft = x;
            if (c == markColumn) {
                const QRect markCell(x, line.top(), markWidth, h);
                if (selected)
                    painter.fillRect(markCell, returned ? colour.lighter(170) : colour);
                if (selected)
                    painter.setPen(returned ? returnedText : QColor(Qt::white));
                else
                    painter.setPen(fill == background ? colour : pen);
                painter.drawText(markCell, Qt::AlignCenter, mark);
                textLeft += markWidth;
            }
            painter.setPen(selected ? QColor(Qt::white) : pen);
            const QRect cell(textLeft + cellInset, line.top(), x + cellWidth - textLeft - 2 * cellInset, h);
            painter.drawText(cell, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                             fontMetrics().elidedText(cellText(m_columnCode.at(c), alarm), Qt::ElideRight, cell.width()));
            x += cellWidth;
        }
    }
    // The column rule runs through the whole list so empty space reads as the same table.
    painter.setPen(m_gridColor);
    const int ruleBottom = shelf.isNull() ? height() - 2 : shelf.top() - 1;
    if (!columnWidths.isEmpty() && m_columnCode.size() > 1 && columnWidths.first() > 0 && columnWidths.first() < right)
        painter.drawLine(columnWidths.first(), 1, columnWidths.first(), ruleBottom);
    painter.setClipping(false);
    if (!shelf.isNull()) {
        painter.fillRect(shelf, background);
        painter.setPen(quietText);
        painter.drawLine(shelf.topLeft(), shelf.topRight());
        QFont quiet = font();
        quiet.setBold(false);
        quiet.setItalic(true);
        painter.setFont(quiet);
        painter.drawText(shelf.adjusted(cellInset, 0, -cellInset, 0), Qt::AlignRight | Qt::AlignVCenter, shelvedText());
        painter.setFont(font());
        painter.setPen(m_gridColor);
    }
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
    if (hasFocus()) {
        painter.setPen(QPen(m_selectionColor, 1, Qt::DotLine));
        painter.drawRect(rect().adjusted(1, 1, -2, -2));
    }
}

void QMSAlarmList::mousePressEvent(QMouseEvent* event)
{
    setFocus(Qt::MouseFocusReason);
    const QPoint at = event->position().toPoint();
    if (event->button() == Qt::LeftButton && shelvedLine().contains(at))
        execMenu(shelvedMenu(), mapToGlobal(shelvedLine().bottomLeft()));
    else if (event->button() == Qt::LeftButton)
        pick(rowAt(at.y()));
}

void QMSAlarmList::contextMenuEvent(QContextMenuEvent* event)
{
    std::unique_ptr<QMenu> menu;
    if (event->reason() == QContextMenuEvent::Mouse && shelvedLine().contains(event->pos())) {
        menu = shelvedMenu();
    } else {
        // The mouse's line is picked first, as a left click would; the menu key uses the picked one.
        const int row = event->reason() == QContextMenuEvent::Mouse ? rowAt(event->pos().y()) : currentRow();
        if (row >= 0 && row != currentRow())
            pick(row);
        menu = alarmMenu(row);
    }
    event->accept();
    execMenu(std::move(menu), event->globalPos());
}

void QMSAlarmList::wheelEvent(QWheelEvent* event)
{
    m_scroll->setValue(m_scroll->value() - event->angleDelta().y() / 40);
    event->accept();
}

void QMSAlarmList::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_F2 && event->modifiers() == Qt::NoModifier) {
        const int row = currentRow();
        showHistory(row >= 0 ? m_rows.at(row).id : QString());
        event->accept();
        return;
    }
    if (m_rows.isEmpty()) {
        RuntimeControl::keyPressEvent(event);
        return;
    }
    const int last = static_cast<int>(m_rows.size()) - 1;
    const int current = currentRow();
    int target = -1;
    switch (event->key()) {
    case Qt::Key_Up:
        target = current < 0 ? 0 : std::max(0, current - 1);
        break;
    case Qt::Key_Down:
        target = current < 0 ? 0 : std::min(last, current + 1);
        break;
    case Qt::Key_PageUp:
        target = current < 0 ? 0 : std::max(0, current - visibleRows());
        break;
    case Qt::Key_PageDown:
        target = current < 0 ? 0 : std::min(last, current + visibleRows());
        break;
    case Qt::Key_Home:
        target = 0;
        break;
    case Qt::Key_End:
        target = last;
        break;
    default:
        RuntimeControl::keyPressEvent(event);
        return;
    }
    // A key that cannot move further picks nothing anew.
    if (target != current)
        pick(target);
    event->accept();
}

void QMSAlarmList::focusInEvent(QFocusEvent* event)
{
    update();
    RuntimeControl::focusInEvent(event);
}

void QMSAlarmList::focusOutEvent(QFocusEvent* event)
{
    update();
    RuntimeControl::focusOutEvent(event);
}

bool QMSAlarmList::event(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(event);
        const int row = rowAt(help->pos().y());
        if (m_group && shelvedLine().contains(help->pos())) {
            // Which alarms are shelved, and until when.
            QStringList lines;
            for (const AlarmInfo& a : m_group->shelvedAlarms())
                lines.append(shelvedEntry(a));
            QToolTip::showText(help->globalPos(), lines.join(QLatin1Char('\n')), this);
        } else if (row >= 0)
            QToolTip::showText(help->globalPos(), details(m_rows.at(row)), this);
        else
            QToolTip::hideText();
        return true;
    }
    return RuntimeControl::event(event);
}
