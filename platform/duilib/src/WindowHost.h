#pragma once

#include <QWidget>

namespace DuiLib {

class CWindowWnd;

// The Qt widget behind a window: hands posted messages, closing and the dialog keys to the
// window object.
class WindowHost : public QWidget {
public:
    explicit WindowHost(CWindowWnd& owner, QWidget* parent = nullptr, Qt::WindowFlags flags = {});

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    CWindowWnd& owner_;
};

} // namespace DuiLib
