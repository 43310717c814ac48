#pragma once

#include <QFont>
#include <QString>

class QPainter;
class QRect;

/// \brief One line of text drawn aligned in a field. The text is measured once per change of text or
/// font rather than on every repaint: displays and labels repaint more often than their text changes.
class SingleLineText final {
public:
    void setText(const QString& text);

    void paint(QPainter& painter, const QRect& area, Qt::Alignment alignment);

private:
    QString m_text;
    QFont m_measuredWith;
    int m_width = -1;
};
