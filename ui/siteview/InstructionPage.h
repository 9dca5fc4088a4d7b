#pragma once

#include <QRect>
#include <QString>
#include <QStringList>

class QPainter;

namespace ketrion {

// The page the site view shows at desktop sizes before a survey is shown:
// what to do, step by step, with the menus and shortcuts, drawn as text at
// the screen's resolution.
class InstructionPage {
public:
    static QString Title();
    // One line per step, in order.
    static QStringList Steps();
    // Draws the page over `area` (client pixels), black background.
    static void Draw(QPainter& dc, const QRect& area);
};

}  // namespace ketrion
