#include "ScreenCheck.h"

#include "VideoPattern.h"

#include <QDir>
#include <QProcess>

#include <algorithm>

namespace {

int distance(const QColor& a, const QColor& b)
{
    return std::max({std::abs(a.red() - b.red()), std::abs(a.green() - b.green()), std::abs(a.blue() - b.blue())});
}

QString describe(const QColor& c) { return QStringLiteral("(%1, %2, %3)").arg(c.red()).arg(c.green()).arg(c.blue()); }

} // namespace

QImage screenshot(const QString& name)
{
    const QString dir = QStringLiteral(HARBEND_BINARY_DIR "/screenshots");
    QDir().mkpath(dir);
    const QString path = dir + QLatin1Char('/') + name + QStringLiteral(".png");
    QProcess import;
    import.start(QStringLiteral("import"), {"-window", "root", path});
    if (!import.waitForFinished(30000) || import.exitCode() != 0)
        return QImage();
    return QImage(path).convertToFormat(QImage::Format_RGB32);
}

void ScreenCheck::expect(const QPoint& at, const QColor& colour, int tolerance, const char* what)
{
    const QPoint p = origin + at;
    if (!screen.rect().contains(p)) {
        problems << QStringLiteral("%1 at (%2, %3) is off the screen").arg(what).arg(at.x()).arg(at.y());
        return;
    }
    const QColor shown = screen.pixelColor(p);
    if (distance(shown, colour) > tolerance)
        problems << QStringLiteral("%1 at (%2, %3): %4, expected %5")
                        .arg(what)
                        .arg(at.x())
                        .arg(at.y())
                        .arg(describe(shown), describe(colour));
}

void ScreenCheck::expectEach(const QRect& area, const std::function<QColor(const QPoint&)>& colour, int tolerance,
                             const char* what)
{
    int differing = 0;
    QString first;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const QPoint p = origin + QPoint(x, y);
            const QColor wanted = colour(QPoint(x, y));
            const QColor shown = screen.rect().contains(p) ? screen.pixelColor(p) : QColor();
            if (shown.isValid() && distance(shown, wanted) <= tolerance)
                continue;
            if (differing++ == 0)
                first = QStringLiteral("first at (%1, %2): %3, expected %4")
                            .arg(x)
                            .arg(y)
                            .arg(shown.isValid() ? describe(shown) : QStringLiteral("off the screen"),
                                 describe(wanted));
        }
    if (differing)
        problems << QStringLiteral("%1: %2 of %3 pixels differ (%4%), %5")
                        .arg(what)
                        .arg(differing)
                        .arg(area.width() * area.height())
                        .arg(100.0 * differing / (area.width() * area.height()), 0, 'f', 1)
                        .arg(first);
}

QColor ScreenCheck::at(const QPoint& point) const
{
    const QPoint p = origin + point;
    return screen.rect().contains(p) ? screen.pixelColor(p) : QColor();
}

QString ScreenCheck::report() const { return screen.isNull() ? QStringLiteral("no screenshot") : problems.join('\n'); }

ScreenCheck checkPicture(const QImage& screen, const QPoint& origin, const QSize& frame, const QSize& widget,
                         int tolerance)
{
    ScreenCheck check(screen, origin);
    const QSize fitted = frame.scaled(widget, Qt::KeepAspectRatio);
    const int left = (widget.width() - fitted.width()) / 2;
    const int top = (widget.height() - fitted.height()) / 2;
    const double scale = double(fitted.width()) / frame.width();
    const auto toWidget = [&](int x, int y) {
        return QPoint(left + int((x + 0.5) * scale), top + int((y + 0.5) * scale));
    };
    // Bar centres and the band below, well inside each area.
    const int w = frame.width(), h = frame.height();
    for (int bar = 0; bar < 8; ++bar)
        for (int y : {h / 8, h / 2})
            check.expect(toWidget(bar * w / 8 + w / 16, y), VideoPattern::expectedAt(w, h, bar * w / 8 + w / 16, y),
                         tolerance, "bar");
    // The white square sits at the bottom left: the picture is neither flipped nor mirrored.
    check.expect(toWidget(h / 16, h - h / 16), QColor(255, 255, 255), tolerance, "marker");
    check.expect(toWidget(w - h / 16, h - h / 16), VideoPattern::expectedAt(w, h, w - 1, h - 1), tolerance, "band");
    // The picture's own edges.
    check.expect(QPoint(left + 3, top + 3), VideoPattern::expectedAt(w, h, 0, 0), tolerance, "top left");
    check.expect(QPoint(left + fitted.width() - 4, top + 3), VideoPattern::expectedAt(w, h, w - 1, 0), tolerance,
                 "top right");
    // Black margins at the sides (or above and below), up to the picture's edge.
    for (int y : {5, widget.height() / 2, widget.height() - 5}) {
        for (int x = 0; x + 2 < left; x += 8) {
            check.expect(QPoint(x, y), Qt::black, 0, "left margin");
            check.expect(QPoint(widget.width() - 1 - x, y), Qt::black, 0, "right margin");
        }
        if (left > 2) {
            check.expect(QPoint(left - 2, y), Qt::black, 0, "left margin edge");
            check.expect(QPoint(left + fitted.width() + 1, y), Qt::black, 0, "right margin edge");
        }
    }
    for (int x : {5, widget.width() / 2, widget.width() - 5}) {
        for (int y = 0; y + 2 < top; y += 8) {
            check.expect(QPoint(x, y), Qt::black, 0, "top margin");
            check.expect(QPoint(x, widget.height() - 1 - y), Qt::black, 0, "bottom margin");
        }
        if (top > 2) {
            check.expect(QPoint(x, top - 2), Qt::black, 0, "top margin edge");
            check.expect(QPoint(x, top + fitted.height() + 1), Qt::black, 0, "bottom margin edge");
        }
    }
    return check;
}
