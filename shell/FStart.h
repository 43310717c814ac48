#pragma once

#include "Window.h"

class Shell;

/// \brief The start window: carries the runtime start control `QMStart1` and nothing else.
class FStart final : public Window {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(FStart)

public:
    FStart(Shell& shell, WindowManager& manager);

protected:
    void onLoad() override;

private:
    Shell& m_shell;
};
