#include "TextDatabase.h"

#include <QDebug>

#include <algorithm>

TextDatabase::TextDatabase(QObject* parent)
    : QObject(parent)
{
}

void TextDatabase::setLanguageId(int languageId)
{
    if (languageId == m_languageId)
        return;
    m_languageId = languageId;
    Q_EMIT languageChanged(languageId);
}

void TextDatabase::clear()
{
    m_texts.clear();
    m_reportedMissing.clear();
}

QString TextDatabase::composite(int languageId, const QString& group, const QString& key)
{
    return QString::number(languageId) + QChar(u'\x1f') + group + QChar(u'\x1f') + key;
}

void TextDatabase::insert(int languageId, const QString& group, const QString& key, const QString& text)
{
    m_texts.insert(composite(languageId, group, key), text);
}

bool TextDatabase::contains(int languageId, const QString& group, const QString& key) const
{
    return m_texts.contains(composite(languageId, group, key));
}

QList<int> TextDatabase::languages() const
{
    QSet<int> ids;
    for (auto it = m_texts.keyBegin(); it != m_texts.keyEnd(); ++it)
        ids.insert(it->section(QChar(u'\x1f'), 0, 0).toInt());
    QList<int> result(ids.begin(), ids.end());
    std::sort(result.begin(), result.end());
    return result;
}

QString TextDatabase::text(const QString& group, const QString& key) const
{
    return text(m_languageId, group, key);
}

QString TextDatabase::text(int languageId, const QString& group, const QString& key) const
{
    const QString id = composite(languageId, group, key);
    const auto it = m_texts.constFind(id);
    if (it != m_texts.constEnd())
        return *it;
    if (!m_reportedMissing.contains(id)) {
        m_reportedMissing.insert(id);
        qWarning().noquote() << "Missing runtime text: language" << languageId << "group" << group << "key" << key;
    }
    return placeholder(group, key);
}

QString TextDatabase::placeholder(const QString& group, const QString& key)
{
    return QStringLiteral("[%1/%2]").arg(group, key);
}
