#pragma once

#include "StdFont.h"
#include "StdPicture.h"

#include <QString>
#include <QWidget>

#include <array>
#include <cstdint>

class PropertyBag;
class QMSIndex;
class QMSKey;
class Runtime;

/// \brief The navigation bar: twelve picture keys in a row, each with a language text label above it.
///
/// The bar decides nothing; a press on key N raises ButtonNClick and the screen decides. Its
/// properties only place captions, pictures, font and border on the inner controls, and every get
/// reads the value back from there.
class QMButton final : public QWidget {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(QMButton)
    Q_PROPERTY(QString bagFile READ bagFile WRITE setBagFile)

public:
    static constexpr int buttonCount = 12;
    static constexpr const char* className = "Kalvora.QMButton";

    QMButton(Runtime& runtime, QWidget* parent);
    ~QMButton() override;

    /// Button n counts from 1; a number outside 1 to 12 throws KalvoraError.
    StdPicture Picture(int n) const;
    void setPicture(int n, const StdPicture& picture);
    QString Text(int n) const;
    void setText(int n, const QString& key);
    StdFont Font() const;
    void setFont(const StdFont& font);
    QString IndexGroup() const;
    void setIndexGroup(const QString& group);
    std::int16_t BorderStyle() const { return m_borderStyle; }
    void setBorderStyle(std::int16_t style);

    /// The stored configuration the bar loads when it is created (a property bag file). A bag that
    /// cannot be read completely is reported and loaded as far as it goes; the rest keeps its
    /// design-time state.
    QString bagFile() const { return m_bagFile; }
    void setBagFile(const QString& file);

    /// Loads the stored properties; stops at the first entry that fails, keeping what was loaded.
    void ReadProperties(PropertyBag& bag);
    void WriteProperties(PropertyBag& bag) const;
    /// The container's font, the default of the labels' font entries.
    StdFont ambientFont() const;

    /// Inner controls, index 0 to 11, for the layout and for tests.
    QMSIndex& label(int index) const;
    QMSKey& key(int index) const;

    /// Lays the buttons out for the bar's current size.
    void layoutButtons();

Q_SIGNALS:
    void Button1Click();
    void Button2Click();
    void Button3Click();
    void Button4Click();
    void Button5Click();
    void Button6Click();
    void Button7Click();
    void Button8Click();
    void Button9Click();
    void Button10Click();
    void Button11Click();
    void Button12Click();
    /// The stored value of the named property is out of date.
    void PropertyChanged(const QString& name);

protected:
    void resizeEvent(QResizeEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void routeClick(int index);
    void placeInnerArea();
    int borderWidth() const { return m_borderStyle == 1 ? 1 : 0; }
    std::size_t slot(int n) const;

    QWidget* m_inner = nullptr;
    std::array<QMSIndex*, buttonCount> m_labels{};
    std::array<QMSKey*, buttonCount> m_keys{};
    std::int16_t m_borderStyle = 0;
    QString m_bagFile;
};
