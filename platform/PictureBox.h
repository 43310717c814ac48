#pragma once

#include <QColor>
#include <QPixmap>
#include <QString>
#include <QWidget>

/// \brief The standard picture box: a container with a background colour and, optionally, a picture
/// drawn at its top left corner. Pictures are named by file, usually through the "layouts:" prefix.
class PictureBox final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(PictureBox)
    Q_PROPERTY(QColor backColor READ backColor WRITE setBackColor)
    Q_PROPERTY(QString picture READ picture WRITE setPicture)

public:
    explicit PictureBox(QWidget* parent = nullptr);

    QColor backColor() const { return m_backColor; }
    void setBackColor(const QColor& color);
    QString picture() const { return m_pictureFile; }
    /// Loads the picture; a file that cannot be read leaves the box without a picture and logs why.
    void setPicture(const QString& file);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor m_backColor;
    QString m_pictureFile;
    QPixmap m_picture;
};
