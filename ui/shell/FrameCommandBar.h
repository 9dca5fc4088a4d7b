#pragma once

#include <QAction>
#include <QToolBar>

namespace ketrion {

class CDraw;
class CMainFrame;
class FrameMenus;

// The main window's command bar (the handheld carries it at the bottom of the
// screen): one button per command of kCommandBarOrder, each running its
// command through the frame as its menu entry would, and the buttons'
// pictures, 16 x 16 or 30 x 30 as the window's width asks.
class FrameCommandBar final {
public:
    // Builds the bar, without pictures, at the bottom of `frame`.
    explicit FrameCommandBar(CMainFrame& frame);

    QToolBar* Bar() const { return m_bar; }
    // The button for command `id`, or null.
    QAction* Action(int id) const;
    // Pixel size of the loaded button images (16 or 30; 0 before they load).
    int ButtonSize() const { return m_buttonSize; }
    // Gives the buttons the pictures for a client area `clientWidth` wide
    // (nothing to do when they have them already); `menus` (null: none)
    // shows the same pictures. False when the images could not be loaded.
    bool LoadButtons(int clientWidth, CDraw& draw, const FrameMenus* menus);

private:
    QToolBar* m_bar = nullptr;  // owned by the frame
    int m_buttonSize = 0;
};

}  // namespace ketrion
