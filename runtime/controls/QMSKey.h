#pragma once

#include "RuntimeControl.h"
#include "StdPicture.h"

#include <QPixmap>
#include <QString>

/// \brief A key: a push button that shows a picture or a language text (text group and key) and
/// reports each press through `Click`. Mouse release inside the key, space and return press it.
class QMSKey final : public RuntimeControl {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QMSKey)
    Q_PROPERTY(QString textGroup READ textGroup WRITE setTextGroup)
    Q_PROPERTY(QString textKey READ textKey WRITE setTextKey)

public:
    QMSKey(Runtime& runtime, QWidget* parent);

    QString textGroup() const { return m_textGroup; }
    void setTextGroup(const QString& group);
    QString textKey() const { return m_textKey; }
    void setTextKey(const QString& key);
    QString caption() const { return m_caption; }

    /// The picture object shown on the key; the empty reference shows the caption instead.
    const StdPicture& Picture() const { return m_picture; }
    void setPicture(const StdPicture& picture);

    /// Presses the key as the operator would.
    void click();

Q_SIGNALS:
    void Click();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void refreshCaption();
    void setDown(bool down);

    QString m_textGroup;
    QString m_textKey;
    QString m_caption;
    StdPicture m_picture;
    QPixmap m_pixmap;
    bool m_down = false;
};
