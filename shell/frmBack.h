#pragma once

#include "Window.h"

class ScreenHost;

/// \brief The full-screen background behind the operator screens. It keeps a frame centred around the
/// screen area and hands the focus back to the current screen when it is clicked.
class frmBack final : public Window {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(frmBack)

public:
    /// The frame: an operator screen (15360 x 11520 twips) plus 90 twips each way.
    static constexpr float shapeWidth = 15450.0F;
    static constexpr float shapeHeight = 11610.0F;

    frmBack(ScreenHost& host, WindowManager& manager);

protected:
    Placement placement() const override { return Placement::Maximised; }
    Qt::WindowFlags windowFlags() const override;
    void onLoad() override;
    void onResize() override;
    /// Becoming the active window is this window's receiving the focus: it hands it back.
    void onActivate() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    ScreenHost& m_host;
};
