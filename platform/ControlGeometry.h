#pragma once

class QWidget;

/// \brief Position and size of a control in twips as its container reports them. Layout code reads
/// back through this after every write, so whatever rounding the container applies carries forward.
class ControlGeometry {
public:
    virtual ~ControlGeometry() = default;
    virtual float left() const = 0;
    virtual float top() const = 0;
    virtual float width() const = 0;
    virtual float height() const = 0;
    virtual void setLeft(float twips) = 0;
    virtual void setTop(float twips) = 0;
    virtual void setWidth(float twips) = 0;
    virtual void setHeight(float twips) = 0;
};

/// A widget as a control: whole pixels, 15 twips each.
class WidgetGeometry final : public ControlGeometry {
public:
    explicit WidgetGeometry(QWidget& widget)
        : m_widget(widget)
    {
    }
    float left() const override;
    float top() const override;
    float width() const override;
    float height() const override;
    void setLeft(float twips) override;
    void setTop(float twips) override;
    void setWidth(float twips) override;
    void setHeight(float twips) override;

private:
    QWidget& m_widget;
};
