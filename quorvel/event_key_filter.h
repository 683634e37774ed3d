#pragma once
// The guard of the event-number fields (editor and correction editor): only
// what can become an event number 1..128 gets typed.
//
// Principles of operation: EventKeyFilter() decides for one key from the
// field's text and selection alone (no widgets), so the rules are tested as a
// table. EventNumberGuard applies it to a QLineEdit: blocked keys are eaten,
// passed keys are handed to the field and then the verdict's effect on the
// window's OK button is reported through a callback. Paste, drag and drop and
// the context menu are shut off, since they would bring text past the filter.
#include <QObject>
#include <QString>
#include <functional>

class QLineEdit;

namespace ui {

// Key characters as the filter knows them.
constexpr char32_t kKeyBackspace = 0x08;
constexpr char32_t kKeyDelete = 0x7F;
constexpr char32_t kKeyLeft = 0x1C;
constexpr char32_t kKeyRight = 0x1D;

enum class OkEffect {
    None,       // the OK button stays as it is
    Recheck,    // a digit was typed (or refused): OK follows the window's own rule
    Disable,    // the field was emptied: OK goes off
};

struct KeyVerdict {
    bool pass = false;
    OkEffect ok = OkEffect::None;
};

// text: the field's text; the selection runs from selStart to selEnd
// (equal: only an insertion point); c: the key's character.
KeyVerdict EventKeyFilter(const QString& text, int selStart, int selEnd, char32_t c);

class EventNumberGuard : public QObject {
public:
    using Effect = std::function<void(OkEffect)>;
    // Installs itself on the field (owned by it) and cuts the field to 3 characters.
    static EventNumberGuard* install(QLineEdit* field, Effect effect);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    EventNumberGuard(QLineEdit* field, Effect effect);
    QLineEdit* m_field;
    Effect m_effect;
    bool m_forwarding = false;
};

}  // namespace ui
