#include "QMStart.h"

#include "Runtime.h"

#include <QPainter>
#include <QTimer>

namespace {
const QColor accent(0, 136, 226);
const QColor titleText(227, 227, 227);
const QColor failure(170, 20, 20);
} // namespace

QMStart::QMStart(Runtime& runtime, QWidget* parent)
    : RuntimeControl(runtime, parent, Coverage::Whole)
{
    setStdFont(StdFont::parse(QStringLiteral("Tahoma, 9.75pt")));
    connect(&runtime, &Runtime::progress, this, [this](const QString& step) { setStatus(step + QStringLiteral(" …")); });
    connect(&runtime, &Runtime::startFailed, this, [this](const QString& reason) {
        // A control that names no project says so in its own words; the runtime's reason goes to the log.
        const QString why = m_projectName.isEmpty() && this->runtime().projectName().isEmpty() ? tr("Der Startbaustein nennt kein Laufzeitprojekt.") : reason;
        setStatus(tr("Start fehlgeschlagen:\n%1").arg(why), true);
    });
    connect(&runtime, &Runtime::started, this, [this] {
        setStatus(tr("Laufzeitsystem läuft"));
        Q_EMIT RuntimeStarted();
    });
    connect(&runtime, &Runtime::stopped, this, [this] {
        setStatus(tr("Laufzeitsystem beendet"));
        Q_EMIT RuntimeStopped();
    });
    // The layout sets the project name after construction; start once it has been applied.
    QTimer::singleShot(0, this, &QMStart::startRuntime);
}

void QMStart::setProjectName(const QString& name)
{
    if (name == m_projectName)
        return;
    m_projectName = name;
    update();
}

void QMStart::startRuntime()
{
    if (runtime().state() == Runtime::State::Running) {
        setStatus(tr("Laufzeitsystem läuft"));
        return;
    }
    // A control that names no project is refused by the runtime itself, so its failure ends the
    // program as every failed start does: with the reason on standard error and a non-zero exit code.
    // A project chosen from outside the layout still wins.
    setStatus(tr("Laufzeitsystem wird gestartet …"));
    runtime().start(m_projectName);
}

void QMStart::StopRuntime()
{
    setStatus(tr("Laufzeitsystem wird beendet …"));
    runtime().stop();
}

void QMStart::setStatus(const QString& text, bool failed)
{
    if (text == m_status && failed == m_failed)
        return;
    m_status = text;
    m_failed = failed;
    update();
}

void QMStart::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(rect(), QColor(240, 240, 240));
    const int band = height() * 2 / 5;
    painter.fillRect(QRect(0, 0, width(), band), accent);

    QFont title = font();
    title.setPixelSize(std::max(12, band * 2 / 5));
    title.setBold(true);
    painter.setFont(title);
    painter.setPen(titleText);
    painter.drawText(QRect(24, 0, width() - 48, band), Qt::AlignLeft | Qt::AlignVCenter, m_projectName);

    QFont caption = font();
    caption.setPixelSize(std::max(10, band / 6));
    painter.setFont(caption);
    painter.drawText(QRect(24, band - band / 3, width() - 48, band / 3), Qt::AlignLeft | Qt::AlignVCenter,
                     tr("Leitstand · Heizanlage"));

    painter.setFont(font());
    painter.setPen(m_failed ? failure : QColor(40, 40, 40));
    painter.drawText(QRect(24, band + 16, width() - 48, height() - band - 32),
                     Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, m_status);

    painter.setPen(QPen(QColor(160, 160, 160), 1));
    painter.drawRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
}
