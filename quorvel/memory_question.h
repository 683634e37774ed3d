#pragma once
// The controller's question when the CP290 has lost its memory: "Put back
// the 23 events it held on Saturday 21:40? Put Back / Leave Empty".
//
// Principles of operation: install() hands core/device_memory.h a handler
// that queues the question (an operation that noticed the loss finishes
// first); checkAtLaunch() asks the clock at start-up when events are on
// record. One question at a time, window-modal on the main window. Put Back
// runs the restore as any other operation (busy cursor, input dropped); Leave
// Empty takes the empty CP290 as it is, so no tool puts the events back.
#include <QObject>
#include <QPointer>
#include <functional>

#include "core/cp290_operations.h"

class QMessageBox;
class QWidget;

namespace ui {

class MemoryQuestion : public QObject {
public:
    using Runner = std::function<void(const std::function<void()>&)>;
    MemoryQuestion(QWidget* window, core::Cp290Operations& ops, Runner runOperation);
    ~MemoryQuestion() override;

    void install();
    void checkAtLaunch();
    void ask(const core::memory::LostMemory& lost);
    // The question on screen, or null (tests answer it through its buttons).
    QMessageBox* question() const { return m_box; }

    // "Saturday 21:40" within the last week, else the locale's short date and time.
    static QString heldText(std::time_t since, std::time_t now);

private:
    QWidget* m_window;
    core::Cp290Operations& m_ops;
    Runner m_run;
    QPointer<QMessageBox> m_box;
};

}  // namespace ui
