#pragma once

#include "HeldRows.h"
#include "KalvoraError.h"

#include <QList>
#include <QString>

#include <functional>
#include <memory>

/// \brief A journal's store and the rows it refused, kept alike for the alarm journal and the audit
/// journal: opening hands the store the damage handler, writing goes through HeldRows (refused rows
/// held in order and written later), closing tries once more and says what is lost.
template <class Store, class Row>
class JournalKeeper final {
public:
    using DamageHandler = std::function<void(const QString& notice)>;

    JournalKeeper(QString what, int holdLimit)
        : m_what(what)
        , m_held(std::move(what), holdLimit)
    {
    }

    /// Empty on success, otherwise why not; the store is kept only when it opened.
    QString open(std::unique_ptr<Store> store, QString* notice)
    {
        close();
        store->setDamageHandler(m_onDamage);
        if (const QString error = store->open(notice); !error.isEmpty())
            return error;
        m_store = std::move(store);
        return {};
    }
    void close()
    {
        if (isOpen())
            write({});
        m_held.clear();
        if (m_store)
            m_store->close();
        m_store.reset();
    }
    bool isOpen() const { return m_store && m_store->isOpen(); }
    /// The open store, or null.
    Store* store() const { return isOpen() ? m_store.get() : nullptr; }
    void setDamageHandler(DamageHandler handler)
    {
        m_onDamage = std::move(handler);
        if (m_store)
            m_store->setDamageHandler(m_onDamage);
    }

    /// Writes `rows` after any still held, in one transaction of the store; held when refused.
    void write(const QList<Row>& rows)
    {
        // A file lost to a damage that could not be replaced holds its rows like a full disk does.
        if (!isOpen() && m_held.fault().isEmpty())
            return;
        m_held.write(rows, [this](const QList<Row>& all) {
            if (!m_store)
                throw KalvoraError(QStringLiteral("%1: not open").arg(m_what));
            m_store->write(all);
        });
    }
    const HeldRows<Row>& held() const { return m_held; }

private:
    QString m_what;
    std::unique_ptr<Store> m_store;
    DamageHandler m_onDamage;
    HeldRows<Row> m_held;
};
