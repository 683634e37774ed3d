#include "quorvel/event_key_filter.h"

#include <QCoreApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <algorithm>

namespace ui {

KeyVerdict EventKeyFilter(const QString& text, int selStart, int selEnd, char32_t c)
{
    const int n = static_cast<int>(text.size());
    const int s = std::min(selStart, selEnd);
    const int e = std::max(selStart, selEnd);

    if (c >= U'0' && c <= U'9') {
        const int d = static_cast<int>(c - U'0');
        KeyVerdict v{true, OkEffect::Recheck};
        if (d == 0 && (n == 0 || s == 0))
            v.pass = false;  // no leading zero
        if (v.pass && s == e) {
            if (n >= 3) {
                v.pass = false;
            } else if (n == 2) {
                const int cur = text.toInt();
                int next = 0;
                if (s >= 2)
                    next = cur * 10 + d;
                else if (s == 1)
                    next = (cur / 10) * 100 + d * 10 + cur % 10;
                else
                    next = cur + d * 100;
                if (next > 128)
                    v.pass = false;
            }
        }
        return v;
    }
    if (c == kKeyBackspace || c == kKeyDelete) {
        const bool emptied = n <= 1 || (s == 0 && e == n);
        return {true, emptied ? OkEffect::Disable : OkEffect::None};
    }
    if (c == kKeyLeft || c == kKeyRight)
        return {true, OkEffect::None};
    return {false, OkEffect::None};
}

EventNumberGuard* EventNumberGuard::install(QLineEdit* field, Effect effect)
{
    return new EventNumberGuard(field, std::move(effect));
}

EventNumberGuard::EventNumberGuard(QLineEdit* field, Effect effect)
    : QObject(field), m_field(field), m_effect(std::move(effect))
{
    field->setMaxLength(3);
    field->setContextMenuPolicy(Qt::NoContextMenu);
    field->setDragEnabled(false);
    field->setAcceptDrops(false);
    field->installEventFilter(this);
}

namespace {
// The key's character in the filter's terms; 0 for keys it does not know.
char32_t keyChar(const QKeyEvent* k)
{
    switch (k->key()) {
    case Qt::Key_Backspace: return kKeyBackspace;
    case Qt::Key_Delete: return kKeyDelete;
    case Qt::Key_Left: return kKeyLeft;
    case Qt::Key_Right: return kKeyRight;
    default: break;
    }
    if (k->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
        return 0;  // shortcuts such as paste would bring text past the filter
    const QString t = k->text();
    return t.size() == 1 ? t.at(0).unicode() : 0;
}

// Keys that move the focus or answer the window, not the field's text.
bool isWindowKey(int key)
{
    return key == Qt::Key_Tab || key == Qt::Key_Backtab || key == Qt::Key_Return ||
           key == Qt::Key_Enter || key == Qt::Key_Escape;
}
}  // namespace

bool EventNumberGuard::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != m_field)
        return false;
    if (m_forwarding || event->type() != QEvent::KeyPress)
        return false;
    auto* k = static_cast<QKeyEvent*>(event);
    if (isWindowKey(k->key()))
        return false;
    const int s = m_field->hasSelectedText() ? m_field->selectionStart() : m_field->cursorPosition();
    const int e = m_field->hasSelectedText() ? s + static_cast<int>(m_field->selectedText().size())
                                             : s;
    const KeyVerdict v = EventKeyFilter(m_field->text(), s, e, keyChar(k));
    if (v.pass) {
        // Let the field take the key first, so the effect sees the new text.
        m_forwarding = true;
        QCoreApplication::sendEvent(m_field, event);
        m_forwarding = false;
    }
    if (m_effect && v.ok != OkEffect::None)
        m_effect(v.ok);
    return true;
}

}  // namespace ui
