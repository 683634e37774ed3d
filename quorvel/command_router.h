#pragma once
// Command routing between the windows and the application.
//
// Principles of operation: a window is attached with its handler. Every
// button, menu item and pop-up inside it that carries a command code (see
// controls.h) sends that code when the user clicks, triggers or changes it.
// A command goes first to the handler of the window it came from; when that
// handler answers "not handled" it goes on to the application's handler.
// The window's close event (close box, Escape, the 'clos' command) goes to
// its handler; when handled, the handler has done whatever closing means for
// it, otherwise the window simply hides. Tests and scripts send commands and
// closes by code through the same entry points a click uses.
#include <QObject>
#include <QString>
#include <map>

class QWidget;

namespace ui {

class CommandHandler {
public:
    virtual ~CommandHandler() = default;
    // A command from a control of the handler's window; true = handled.
    virtual bool handleCommand(const QString& code);
    // The window's close event; true = handled.
    virtual bool handleClose();
};

class CommandRouter : public QObject {
public:
    // The window closes itself and sends its close event on this command.
    static constexpr const char* kCloseCommand = "clos";

    explicit CommandRouter(QObject* parent = nullptr);

    // Wires every command sender inside the window and its close event.
    void attach(QWidget* window, CommandHandler* handler);
    void setApplicationHandler(CommandHandler* handler) { m_appHandler = handler; }

    // Routes a command as if a control of `window` had sent it (window may
    // be null: the application's handler alone). true = someone handled it.
    bool sendCommand(QWidget* window, const QString& code);
    // Closes the window as its close box would.
    void sendClose(QWidget* window);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    std::map<QWidget*, CommandHandler*> m_handlers;
    CommandHandler* m_appHandler = nullptr;
};

}  // namespace ui
