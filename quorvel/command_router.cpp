#include "quorvel/command_router.h"

#include <QAbstractButton>
#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QMenu>
#include <QWidget>

#include "quorvel/controls.h"

namespace ui {

bool CommandHandler::handleCommand(const QString&)
{
    return false;
}

bool CommandHandler::handleClose()
{
    return false;
}

CommandRouter::CommandRouter(QObject* parent) : QObject(parent) {}

namespace {
// The window a sender belongs to: its nearest window ancestor, looking
// through menus to the window whose menu bar holds them. Dialogs are
// children of the main window, so a plain search of the main window's
// children would claim their buttons too.
const QWidget* ownerWindow(const QObject* sender)
{
    for (const QObject* o = sender; o; o = o->parent()) {
        const auto* w = qobject_cast<const QWidget*>(o);
        if (w && w->isWindow() && !qobject_cast<const QMenu*>(w))
            return w;
    }
    return nullptr;
}

template <class T>
QList<T*> ownSenders(QWidget* window)
{
    QList<T*> out;
    for (T* s : window->findChildren<T*>())
        if (!commandOf(s).isEmpty() && ownerWindow(s) == window)
            out.push_back(s);
    return out;
}
}  // namespace

void CommandRouter::attach(QWidget* window, CommandHandler* handler)
{
    m_handlers[window] = handler;
    window->installEventFilter(this);
    const auto send = [this, window](const QObject* sender) { sendCommand(window, commandOf(sender)); };
    for (QAbstractButton* b : ownSenders<QAbstractButton>(window))
        connect(b, &QAbstractButton::clicked, this, [send, b] { send(b); });
    for (QComboBox* c : ownSenders<QComboBox>(window))
        connect(c, &QComboBox::activated, this, [send, c] { send(c); });
    for (QAction* a : ownSenders<QAction>(window))
        connect(a, &QAction::triggered, this, [send, a] { send(a); });
}

bool CommandRouter::sendCommand(QWidget* window, const QString& code)
{
    if (window) {
        const auto it = m_handlers.find(window);
        if (it != m_handlers.end() && it->second && it->second->handleCommand(code))
            return true;
        if (code == QLatin1String(kCloseCommand)) {
            sendClose(window);
            return true;
        }
    }
    return m_appHandler && m_appHandler->handleCommand(code);
}

void CommandRouter::sendClose(QWidget* window)
{
    // QWidget::close() delivers the close event, which the filter routes.
    window->close();
}

bool CommandRouter::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::Close)
        return false;
    auto* window = qobject_cast<QWidget*>(watched);
    const auto it = m_handlers.find(window);
    if (it == m_handlers.end() || !it->second)
        return false;
    if (it->second->handleClose()) {
        // The handler decided what closing means (it hides the window itself).
        event->ignore();
        return true;
    }
    return false;
}

}  // namespace ui
