#include "AuditJournal.h"

#include "SqliteAuditJournal.h"

#include <QVariant>

AuditJournal::AuditJournal() = default;

AuditJournal::~AuditJournal() = default;

QString AuditJournal::open(const QString& path, QString* notice)
{
    return open(std::make_unique<SqliteAuditJournal>(path), notice);
}

QString AuditJournal::open(std::unique_ptr<AuditJournalStore> store, QString* notice)
{
    close();
    store->setDamageHandler(m_onDamage);
    if (const QString error = store->open(notice); !error.isEmpty())
        return error;
    m_store = std::move(store);
    return {};
}

void AuditJournal::setDamageHandler(AuditJournalStore::DamageHandler handler)
{
    m_onDamage = std::move(handler);
    if (m_store)
        m_store->setDamageHandler(m_onDamage);
}

void AuditJournal::close()
{
    if (isOpen())
        retry();
    m_held.clear();
    if (m_store)
        m_store->close();
    m_store.reset();
}

QString AuditJournal::valueText(const QVariant& value)
{
    if (!value.isValid())
        return {};
    if (value.typeId() == QMetaType::Bool)
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    return value.toString();
}

void AuditJournal::append(const AuditEntry& entry)
{
    write({entry});
}

void AuditJournal::retry()
{
    write({});
}

void AuditJournal::write(const QList<AuditEntry>& entries)
{
    // A file lost to a damage that could not be replaced holds its rows like a full disk does.
    if (!isOpen() && m_held.fault().isEmpty())
        return;
    m_held.write(entries, [this](const QList<AuditEntry>& rows) {
        if (!m_store)
            throw KalvoraError(QStringLiteral("Audit journal: not open"));
        m_store->write(rows);
    });
}

QList<AuditEntry> AuditJournal::history(int limit) const
{
    return isOpen() ? m_store->history(limit) : QList<AuditEntry>();
}

AuditChain::Head AuditJournal::head() const
{
    return isOpen() ? m_store->head() : AuditChain::Head{};
}
