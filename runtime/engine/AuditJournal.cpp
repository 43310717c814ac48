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
    return m_keeper.open(std::move(store), notice);
}

QString AuditJournal::valueText(const QVariant& value)
{
    if (!value.isValid())
        return {};
    if (value.typeId() == QMetaType::Bool)
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    return value.toString();
}

QList<AuditEntry> AuditJournal::history(int limit) const
{
    return isOpen() ? m_keeper.store()->history(limit) : QList<AuditEntry>();
}

AuditChain::Head AuditJournal::head() const
{
    return isOpen() ? m_keeper.store()->head() : AuditChain::Head{};
}
