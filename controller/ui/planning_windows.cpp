#include "controller/ui/planning_windows.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeView>

#include "controller/ui/control_ids.h"

namespace ui {
namespace {

void shellLayout(QDialog* window, QWidget* body, const QString& note)
{
    auto* box = new QVBoxLayout(window);
    if (body)
        box->addWidget(body, 1);
    auto* text = new QLabel(note);
    text->setWordWrap(true);
    box->addWidget(text);
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(commandButton(QObject::tr("Close"), "clos"));
    box->addLayout(row);
}

QTreeView* listControl(int id)
{
    auto* list = withId(new QTreeView, id);
    list->setRootIsDecorated(false);
    list->setMinimumSize(360, 220);
    return list;
}

}  // namespace

VeskWindow::VeskWindow(QWidget* parent) : ShellDialog(parent, tr("Time Corrections"))
{
    shellLayout(this, listControl(ListTControlID),
                tr("Planning of time corrections is not available in this version."));
}

VeskEdWindow::VeskEdWindow(QWidget* parent) : ShellDialog(parent, tr("Correction Entry"))
{
    m_number = withId(new QLineEdit, TEvtControlID);
    m_number->setMaximumWidth(60);
    auto* body = new QWidget;
    auto* form = new QFormLayout(body);
    form->addRow(tr("Event number:"), m_number);
    form->addRow(QString(), commandButton(tr("OK"), "", TDItControlID));
    shellLayout(this, body, QString());
}

ResetWindow::ResetWindow(QWidget* parent) : ShellDialog(parent, tr("Reset Reference Dates"))
{
    shellLayout(this, nullptr, tr("Reference dates cannot be reset in this version."));
}

}  // namespace ui
