#include "quorvel/dialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>

#include "quorvel/control_ids.h"

namespace ui {
namespace {

// Cancel/close on the left of the confirming button, as desktops expect.
QHBoxLayout* buttonRow(QPushButton* close, QPushButton* confirm = nullptr)
{
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(close);
    if (confirm) {
        confirm->setDefault(true);
        row->addWidget(confirm);
    }
    return row;
}

QLabel* iconLabel(QWidget* owner, QStyle::StandardPixmap icon)
{
    auto* l = new QLabel;
    const int size = owner->style()->pixelMetric(QStyle::PM_MessageBoxIconSize);
    l->setPixmap(owner->style()->standardIcon(icon).pixmap(size, size));
    l->setAlignment(Qt::AlignTop);
    return l;
}

}  // namespace

MessWindow::MessWindow(QWidget* parent) : ShellDialog(parent, QStringLiteral("Quorvel"))
{
    auto* text = withId(new QLabel, MessControlID);
    text->setWordWrap(true);
    text->setMinimumWidth(320);
    auto* top = new QHBoxLayout;
    top->addWidget(iconLabel(this, QStyle::SP_MessageBoxWarning));
    top->addWidget(text, 1);
    m_ok = commandButton(tr("OK"), "delM");
    m_cancel = commandButton(tr("Cancel"), "clos");
    m_save = commandButton(tr("Save"), "savQ");
    auto* row = buttonRow(m_cancel, m_ok);
    row->insertWidget(0, m_save);  // Save apart from the other two, on the left
    row->insertStretch(1);
    auto* box = new QVBoxLayout(this);
    box->addLayout(top);
    box->addLayout(row);
    setQuestion({}, false);
}

void MessWindow::setQuestion(const QString& action, bool offerSave)
{
    // Enter takes the choice that loses nothing: Save, or else Cancel.
    m_save->setVisible(offerSave);
    m_ok->setText(offerSave ? tr("Don't Save") : action.isEmpty() ? tr("OK") : action);
    m_ok->setDefault(false);
    m_save->setDefault(offerSave);
    m_cancel->setDefault(!offerSave);
    (offerSave ? m_save : m_cancel)->setFocus();
}

StatusWindow::StatusWindow(QWidget* parent) : ShellDialog(parent, tr("CP290 Self Test"))
{
    auto* text = withId(new QLabel(tr("Test in Progress...")), SMessControlID);
    text->setAlignment(Qt::AlignCenter);
    text->setMinimumWidth(240);
    auto* button = commandButton(tr("OK"), "clos", SButtControlID);
    button->setEnabled(false);
    button->setDefault(true);
    auto* cancel = commandButton(tr("Cancel"), "stop", CancelControlID);
    cancel->hide();  // shown while a test runs
    auto* box = new QVBoxLayout(this);
    box->addWidget(text);
    box->addLayout(buttonRow(cancel, button));
}

ClockWindow::ClockWindow(QWidget* parent) : ShellDialog(parent, tr("CP290 Clock"), Sheet)
{
    auto* form = new QFormLayout;
    form->addRow(tr("Time in the CP290:"), withId(new QLabel, CTimeControlID));
    form->addRow(tr("Day:"), withId(new QLabel, CDayControlID));
    auto* box = new QVBoxLayout(this);
    box->addLayout(form);
    box->addLayout(buttonRow(commandButton(tr("Close"), "clos"),
                             commandButton(tr("Set to Computer's Time"), "setc")));
}

BaseCWindow::BaseCWindow(QWidget* parent) : ShellDialog(parent, tr("Base House Code"), Sheet)
{
    auto* code = withId(new QComboBox, BCodeControlID);
    for (char c = 'A'; c <= 'P'; ++c)
        code->addItem(QString(QLatin1Char(c)));
    auto* form = new QFormLayout;
    form->addRow(tr("Base house code of the CP290:"), code);
    auto* box = new QVBoxLayout(this);
    box->addLayout(form);
    box->addLayout(buttonRow(commandButton(tr("Close"), "clos"),
                             commandButton(tr("Set Base Code…"), "setb")));
}

TWindow::TWindow(QWidget* parent) : ShellDialog(parent, tr("CP290"), Sheet)
{
    auto* text = withId(new QLabel, CopyControlID);
    auto* bar = withId(new QProgressBar, PrgsControlID);
    bar->setRange(0, 128);
    bar->setValue(0);
    bar->setFormat(tr("Event %v"));
    bar->setMinimumWidth(320);
    auto* left = withId(new QLabel, TimeLeftControlID);
    auto* box = new QVBoxLayout(this);
    box->addWidget(text);
    box->addWidget(bar);
    auto* row = buttonRow(commandButton(tr("Cancel"), "stop", CancelControlID));
    row->insertWidget(0, left);
    box->addLayout(row);
    // Closing it asks the operation to stop, as Cancel does (its handler).
    setWindowFlag(Qt::WindowCloseButtonHint, false);
}

SndWindow::SndWindow(QWidget* parent) : ShellDialog(parent, tr("Send Events"), Sheet)
{
    // Exclusion is the handler's work (the choices' commands), so every way of
    // choosing, a click or a command, behaves alike.
    const auto choice = [](const QString& text, const char* code, int id) {
        auto* r = withId(new QRadioButton(text), id);
        r->setAutoExclusive(false);
        setCommand(r, code);
        return r;
    };
    auto* box = new QVBoxLayout(this);
    box->addWidget(new QLabel(tr("Send to the CP290:")));
    box->addWidget(choice(tr("All events"), "Sall", SallControlID));
    box->addWidget(choice(tr("Selected events"), "Shih", ShighControlID));
    box->addWidget(choice(tr("Changed events"), "Schg", SchgControlID));
    box->addLayout(buttonRow(commandButton(tr("Cancel"), "clos"), commandButton(tr("Send"), "CPs2")));
}

SearchWindow::SearchWindow(QWidget* parent) : ShellDialog(parent, tr("Find Events"), Sheet)
{
    auto* combo = withId(new QComboBox, CBoxControlID);
    combo->setEditable(true);
    combo->setInsertPolicy(QComboBox::NoInsert);
    combo->setMinimumWidth(240);
    auto* form = new QFormLayout;
    form->addRow(tr("Device name:"), combo);
    auto* box = new QVBoxLayout(this);
    box->addLayout(form);
    box->addLayout(buttonRow(commandButton(tr("Cancel"), "clos"), commandButton(tr("Find"), "sSch")));
}

PrefsWindow::PrefsWindow(QWidget* parent) : ShellDialog(parent, tr("Quorvel Preferences"))
{
    auto* box = new QVBoxLayout(this);
    box->addWidget(commandCheckBox(tr("Warn before unsaved event changes are lost"), nullptr,
                                   PWarnControlID));
    box->addWidget(commandCheckBox(tr("Set the CP290's clock at launch"), nullptr, PClckControlID));
    box->addWidget(commandCheckBox(tr("Read the CP290's events at launch"), nullptr, PR290ControlID));
    box->addWidget(commandCheckBox(tr("Show help tips"), nullptr, PHelpControlID));
    box->addLayout(buttonRow(commandButton(tr("Close"), "clos")));
}

}  // namespace ui
