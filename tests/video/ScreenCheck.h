#pragma once

#include <QColor>
#include <QImage>
#include <QPoint>
#include <QSize>
#include <QStringList>

#include <functional>

// The whole screen as the X server holds it (ImageMagick's import), saved
// under the build folder's screenshots/ as <name>.png; null on failure.
QImage screenshot(const QString& name);

// Compares screen pixels (widget coordinates) with what they should show;
// collects the differences for the failure message.
class ScreenCheck {
public:
    ScreenCheck(const QImage& screen, const QPoint& origin) : screen(screen), origin(origin) {}

    void expect(const QPoint& at, const QColor& colour, int tolerance, const char* what);
    // Every pixel of the area; one line for all that differ, with their share.
    void expectEach(const QRect& area, const std::function<QColor(const QPoint&)>& colour, int tolerance,
                    const char* what);
    // The colour shown at a point of the widget (invalid when off the screen).
    QColor at(const QPoint& point) const;

    bool ok() const { return !screen.isNull() && problems.isEmpty(); }
    QString report() const;

private:
    QImage screen;
    QPoint origin;
    QStringList problems;
};

// The bar frame of the given size fitted into a widget of the given size:
// checks bar colours (within the tolerance), orientation marks and the black
// margins around the picture.
ScreenCheck checkPicture(const QImage& screen, const QPoint& origin, const QSize& frame, const QSize& widget,
                         int tolerance = 3);
