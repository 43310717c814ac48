#include "PgTable.h"

QString PgTable::checkColumns(PgConnection& c, const QString& what, const char* table, const QList<Column>& columns)
{
    PgResult r = c.exec("SELECT column_name, data_type FROM information_schema.columns WHERE table_schema = current_schema() AND table_name = $1",
        {QByteArray(table)});
    if (!r.ok())
        return r.error();
    const QString name = QString::fromLatin1(table);
    if (r.rows() == 0)
        return QStringLiteral("%1 table %2 is missing in %3").arg(what, name, c.describe());
    for (const Column& column : columns) {
        int found = -1;
        for (int i = 0; i < r.rows() && found < 0; ++i)
            if (r.text(i, 0) == column.name)
                found = i;
        if (found < 0)
            return QStringLiteral("%1 table %2: column %3 is missing in %4").arg(what, name, QString::fromLatin1(column.name), c.describe());
        if (r.text(found, 1) != column.type)
            return QStringLiteral("%1 table %2: column %3 is %4, expected %5 in %6")
                .arg(what, name, QString::fromLatin1(column.name), QString::fromUtf8(r.text(found, 1)), QString::fromLatin1(column.type), c.describe());
    }
    return {};
}

QByteArray PgTable::array(const QList<QByteArray>& items)
{
    QByteArray out = "{";
    for (qsizetype i = 0; i < items.size(); ++i) {
        QByteArray item = items[i];
        if (item.isNull()) {
            out += i ? ",NULL" : "NULL";
            continue;
        }
        item.replace('\\', "\\\\").replace('"', "\\\"");
        out += (i ? ",\"" : "\"") + item + '"';
    }
    return out + "}";
}
