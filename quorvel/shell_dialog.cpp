#include "quorvel/shell_dialog.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QPushButton>

namespace ui {

ShellDialog::ShellDialog(QWidget* parent, const QString& title, Kind kind) : QDialog(parent)
{
    setWindowTitle(title);
    if (kind == Sheet) {
        setWindowModality(Qt::WindowModal);
        setMinimumWidth(320);  // room for the title bar's text
    }
}

void ShellDialog::closeEvent(QCloseEvent* event)
{
    // Plain hide; QDialog's own closeEvent would call reject() and loop back here.
    event->accept();
}

QPushButton* commandButton(const QString& text, const char* code, int id)
{
    auto* b = new QPushButton(text);
    b->setAutoDefault(false);
    setCommand(b, code);
    if (id)
        setControlId(b, id);
    return b;
}

QCheckBox* commandCheckBox(const QString& text, const char* code, int id)
{
    auto* c = new QCheckBox(text);
    if (code)
        setCommand(c, code);
    setControlId(c, id);
    return c;
}

}  // namespace ui
