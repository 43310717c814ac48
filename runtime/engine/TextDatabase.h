#pragma once

#include <QHash>
#include <QObject>
#include <QSet>
#include <QString>

/// \brief The runtime's language texts: per language, group and key, and the runtime's current
/// language, which every text control follows.
class TextDatabase final : public QObject {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(TextDatabase)

public:
    static constexpr int German = 1031;
    static constexpr int English = 1033;

    explicit TextDatabase(QObject* parent = nullptr);

    int languageId() const { return m_languageId; }
    /// Switches every text control of the runtime; announces it only when the language changes.
    void setLanguageId(int languageId);

    void clear();
    void insert(int languageId, const QString& group, const QString& key, const QString& text);
    bool contains(int languageId, const QString& group, const QString& key) const;
    QList<int> languages() const;

    /// The text in the current language. A text the project lacks comes back as a visible placeholder
    /// naming group and key, and is logged once.
    QString text(const QString& group, const QString& key) const;
    QString text(int languageId, const QString& group, const QString& key) const;

    static QString placeholder(const QString& group, const QString& key);

    /// The group of the runtime's own texts: the controls' captions, notes and dialogs.
    static inline const QString IndexGroup = QStringLiteral("Indextexte");
    /// A text of IndexGroup in the current language.
    QString indexText(const char* key) const { return text(IndexGroup, QString::fromLatin1(key)); }

Q_SIGNALS:
    void languageChanged(int languageId);

private:
    static QString composite(int languageId, const QString& group, const QString& key);

    int m_languageId = German;
    QHash<QString, QString> m_texts;
    mutable QSet<QString> m_reportedMissing;
};
