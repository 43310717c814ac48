#include "Runtime.h"

#include "TagStore.h"
#include "TextDatabase.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QTimer>

Runtime::Runtime(RuntimeOptions options, QObject* parent)
    : QObject(parent)
    , m_options(std::move(options))
    , m_tags(new TagStore(this))
    , m_texts(new TextDatabase(this))
{
}

Runtime::~Runtime() = default;

QString Runtime::projectDirectory() const
{
    const QString root = m_options.projectsRoot.isEmpty()
        ? QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("project"))
        : m_options.projectsRoot;
    return QDir(root).filePath(m_projectName);
}

void Runtime::start(const QString& projectName)
{
    if (m_state != State::Stopped && m_state != State::Failed)
        return;
    m_projectName = projectName;
    m_lastError.clear();
    m_state = State::Starting;
    QTimer::singleShot(0, this, &Runtime::runStart);
}

void Runtime::runStart()
{
    if (m_state != State::Starting)
        return;
    Q_EMIT progress(tr("Loading project %1").arg(m_projectName));
    const QString folder = projectDirectory();
    if (m_projectName.isEmpty() || !QFileInfo(folder).isDir()) {
        setFailed(tr("The runtime project \"%1\" was not found in %2").arg(m_projectName, QDir::toNativeSeparators(folder)));
        return;
    }
    m_state = State::Running;
    Q_EMIT started();
}

void Runtime::setFailed(const QString& reason)
{
    m_state = State::Failed;
    m_lastError = reason;
    Q_EMIT startFailed(reason);
}

void Runtime::stop()
{
    if (m_state == State::Stopped || m_state == State::Stopping)
        return;
    const bool wasUp = m_state == State::Running || m_state == State::Starting;
    m_state = State::Stopping;
    m_state = State::Stopped;
    if (wasUp)
        Q_EMIT stopped();
}

void Runtime::fail(const QString& reason)
{
    qCritical().noquote() << "Runtime fault:" << reason;
    m_lastError = reason;
    stop();
}
