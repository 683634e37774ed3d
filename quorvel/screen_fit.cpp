#include "quorvel/screen_fit.h"

#include <QApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>

namespace ui {

QRect fitRect(const QRect& frame, const QSize& minimum, const QSize& extra, const QRect& available)
{
    QSize size = frame.size().boundedTo(available.size());
    // The minimum counts only while it fits; beyond that the layout scrolls.
    size = size.expandedTo((minimum + extra).boundedTo(available.size()));
    const int x = std::clamp(frame.x(), available.left(), available.right() + 1 - size.width());
    const int y = std::clamp(frame.y(), available.top(), available.bottom() + 1 - size.height());
    return {QPoint(x, y), size};
}

namespace {
// What the window manager's frame adds: the window's own once it is framed,
// until then that of another framed window (title bars are alike).
QMargins frameMargins(const QWidget* window)
{
    const auto margins = [](const QWidget* w) {
        const QRect f = w->frameGeometry();
        const QRect g = w->geometry();
        return QMargins(g.left() - f.left(), g.top() - f.top(), f.right() - g.right(), f.bottom() - g.bottom());
    };
    if (!margins(window).isNull())
        return margins(window);
    for (const QWidget* other : QApplication::topLevelWidgets())
        if (other != window && other->isVisible() && !margins(other).isNull())
            return margins(other);
    return {};
}
}  // namespace

void fitToScreen(QWidget* window)
{
    QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QMargins m = frameMargins(window);
    const QRect frame = window->geometry().marginsAdded(m);
    const QSize extra = frame.size() - window->size();
    const QRect fitted = fitRect(frame, window->minimumSize(), extra, screen->availableGeometry());
    if (fitted == frame)
        return;
    window->resize(fitted.size() - extra);
    // A window nobody placed is placed by the window manager, within the
    // screen; one placed (a restored or program-given position) is moved in.
    if (window->testAttribute(Qt::WA_Moved))
        window->move(fitted.topLeft());  // a top-level's move() places its frame
}

bool ScreenFitter::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Show && watched->isWidgetType()) {
        auto* w = static_cast<QWidget*>(watched);
        if (w->isWindow() && w->windowType() != Qt::Popup && w->windowType() != Qt::ToolTip) {
            fitToScreen(w);
        }
    }
    return false;
}

}  // namespace ui
