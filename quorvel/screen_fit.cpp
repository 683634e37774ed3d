#include "quorvel/screen_fit.h"

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

void fitToScreen(QWidget* window)
{
    QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect frame = window->frameGeometry();
    const QSize extra = frame.size() - window->size();
    const QRect fitted = fitRect(frame, window->minimumSize(), extra, screen->availableGeometry());
    if (fitted == frame)
        return;
    window->resize(fitted.size() - extra);
    window->move(fitted.topLeft());
}

bool ScreenFitter::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Show && watched->isWidgetType()) {
        auto* w = static_cast<QWidget*>(watched);
        if (w->isWindow() && w->windowType() != Qt::Popup && w->windowType() != Qt::ToolTip)
            fitToScreen(w);
    }
    return false;
}

}  // namespace ui
