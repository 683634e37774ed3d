#include "quorvel/controls.h"

#include <QAbstractButton>
#include <QAbstractSlider>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QSpinBox>
#include <QTimeEdit>
#include <QWidget>

namespace ui {
namespace {
constexpr const char* kIdProperty = "cp290ControlId";
constexpr const char* kCommandProperty = "cp290Command";
}  // namespace

void setControlId(QObject* control, int id)
{
    control->setProperty(kIdProperty, id);
}

int controlId(const QObject* control)
{
    return control ? control->property(kIdProperty).toInt() : 0;
}

QWidget* findControl(const QWidget* window, int id)
{
    if (!window || id <= 0)
        return nullptr;
    if (controlId(window) == id)
        return const_cast<QWidget*>(window);
    const auto children = window->findChildren<QWidget*>();
    for (QWidget* w : children)
        if (controlId(w) == id)
            return w;
    return nullptr;
}

void setCommand(QObject* sender, const char* code)
{
    sender->setProperty(kCommandProperty, QString::fromLatin1(code));
}

QString commandOf(const QObject* sender)
{
    return sender ? sender->property(kCommandProperty).toString() : QString();
}

int controlValue(const QWidget* control)
{
    if (auto* c = qobject_cast<const QComboBox*>(control))
        return c->currentIndex() + 1;
    if (auto* b = qobject_cast<const QAbstractButton*>(control))
        return b->isChecked() ? 1 : 0;
    if (auto* s = qobject_cast<const QSpinBox*>(control))
        return s->value();
    if (auto* s = qobject_cast<const QAbstractSlider*>(control))
        return s->value();
    if (auto* p = qobject_cast<const QProgressBar*>(control))
        return p->value();
    return 0;
}

void setControlValue(QWidget* control, int value)
{
    if (auto* c = qobject_cast<QComboBox*>(control))
        c->setCurrentIndex(value >= 1 && value <= c->count() ? value - 1 : -1);
    else if (auto* b = qobject_cast<QAbstractButton*>(control))
        b->setChecked(value != 0);
    else if (auto* s = qobject_cast<QSpinBox*>(control))
        s->setValue(value);
    else if (auto* s = qobject_cast<QAbstractSlider*>(control))
        s->setValue(value);
    else if (auto* p = qobject_cast<QProgressBar*>(control))
        p->setValue(value);
}

QString controlText(const QWidget* control)
{
    if (auto* l = qobject_cast<const QLabel*>(control))
        return l->text();
    if (auto* e = qobject_cast<const QLineEdit*>(control))
        return e->text();
    if (auto* c = qobject_cast<const QComboBox*>(control))
        return c->currentText();
    if (auto* b = qobject_cast<const QAbstractButton*>(control))
        return b->text();
    return QString();
}

void setControlText(QWidget* control, const QString& text)
{
    if (auto* l = qobject_cast<QLabel*>(control))
        l->setText(text);
    else if (auto* e = qobject_cast<QLineEdit*>(control))
        e->setText(text);
    else if (auto* c = qobject_cast<QComboBox*>(control); c && c->isEditable())
        c->setEditText(text);
    else if (auto* b = qobject_cast<QAbstractButton*>(control))
        b->setText(text);
}

QTime controlTime(const QWidget* control)
{
    if (auto* t = qobject_cast<const QTimeEdit*>(control))
        return t->time();
    return QTime();
}

void setControlTime(QWidget* control, const QTime& time)
{
    if (auto* t = qobject_cast<QTimeEdit*>(control))
        t->setTime(time);
}

void setControlEnabled(const QWidget* window, int id, bool enabled)
{
    if (QWidget* w = findControl(window, id))
        w->setEnabled(enabled);
}

bool controlEnabled(const QWidget* window, int id)
{
    const QWidget* w = findControl(window, id);
    return w && w->isEnabled();
}

}  // namespace ui
