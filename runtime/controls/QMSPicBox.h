#pragma once

#include "RuntimeControl.h"
#include "TagBinding.h"

#include <QPixmap>
#include <QString>

/// \brief Picture that follows a process variable: `pictureOn` while the variable is on, `pictureOff`
/// otherwise, drawn unscaled at the top left corner. It is a container: controls placed inside it (the
/// burner switch) lie on top of the picture.
///
/// Pictures are files, usually named through the "layouts:" search path. A picture that cannot be read
/// is drawn as a crossed frame naming the file, so a broken installation shows itself. While a bound
/// variable delivers no good value the off picture is shown under a grey veil: the state is unknown.
class QMSPicBox final : public RuntimeControl {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QMSPicBox)
    Q_PROPERTY(QString processVariable READ processVariable WRITE setProcessVariable)
    Q_PROPERTY(QString pictureOn READ pictureOn WRITE setPictureOn)
    Q_PROPERTY(QString pictureOff READ pictureOff WRITE setPictureOff)

public:
    QMSPicBox(Runtime& runtime, QWidget* parent);

    QString processVariable() const { return m_binding.name(); }
    void setProcessVariable(const QString& name);
    QString pictureOn() const { return m_on.file; }
    void setPictureOn(const QString& file);
    QString pictureOff() const { return m_off.file; }
    void setPictureOff(const QString& file);

    /// True while the on picture is shown.
    bool showsOn() const { return m_showOn; }
    /// True while the state is unknown (no good value).
    bool showsNoValue() const { return m_noValue; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    struct Picture {
        QString file;
        QPixmap pixmap;
        bool failed = false;
    };
    void load(Picture& picture, const QString& file);
    void takeValue(const TagValue& value);

    Picture m_on;
    Picture m_off;
    bool m_showOn = false;
    bool m_noValue = false;
    TagBinding m_binding;
};
