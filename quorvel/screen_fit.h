#pragma once
// Keeps every top-level window on the screen it opens on.
//
// Principles of operation: fitRect() is the rule: a window no larger than the
// screen's available area (never below its minimum size when that fits), and
// moved inside it. ScreenFitter, installed once on the application, applies
// the rule to each window as it is shown, so windows added later fit without
// further code, at any scale factor.
#include <QObject>
#include <QRect>

namespace ui {

// `frame` is the window with its frame, `extra` what the frame adds to the
// client area, `minimum` the client's minimum size; the fitted frame.
QRect fitRect(const QRect& frame, const QSize& minimum, const QSize& extra, const QRect& available);

// Fits one window now (it must be a top-level widget).
void fitToScreen(QWidget* window);

class ScreenFitter : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

}  // namespace ui
