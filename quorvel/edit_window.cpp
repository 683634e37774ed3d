#include "quorvel/edit_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTimeEdit>

#include "quorvel/control_ids.h"
#include "quorvel/formats.h"

namespace ui {

DevCkWindow::DevCkWindow(QWidget* parent) : QWidget(parent)
{
    auto* box = new QGroupBox(tr("Units"));
    auto* grid = new QGridLayout(box);
    for (int i = 0; i < 16; ++i) {
        auto* c = commandCheckBox(QStringLiteral("    "), "devc", UnitFirstControlID + i);
        grid->addWidget(c, i % 8, i / 8);
    }
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(box);
}

EditWindow::EditWindow(QWidget* parent) : ShellDialog(parent, tr("Event"))
{
    m_number = withId(new QLineEdit, ENumControlID);
    m_number->setMaximumWidth(60);

    auto* house = withId(new QComboBox, HouseControlID);
    for (char c = 'A'; c <= 'P'; ++c)
        house->addItem(QString(QLatin1Char(c)));
    setCommand(house, "CPHc");

    auto* func = withId(new QComboBox, FuncControlID);
    func->addItems({tr("On"), tr("Off")});
    setCommand(func, "onff");

    auto* dim = withId(new QSpinBox, DimControlID);
    dim->setRange(0, 15);
    dim->setSpecialValueText(tr("none"));

    auto* mode = withId(new QComboBox, ModeControlID);
    mode->addItems({tr("Normal"), tr("Security")});

    auto* time = withId(new QTimeEdit(QTime(12, 0)), TimeControlID);
    time->setDisplayFormat(timeFormat());
    // A fixed time, or today's sunrise or sunset plus an offset; the event
    // then follows the sun.
    auto* timeKind = withId(new QComboBox, ETimeKindControlID);
    timeKind->addItems({tr("at a fixed time"), tr("at sunrise"), tr("at sunset")});
    setCommand(timeKind, "sunK");
    auto* offset = withId(new QSpinBox, EOffsetControlID);
    offset->setRange(-720, 720);
    offset->setSuffix(tr(" min"));
    offset->setToolTip(tr("Minutes after the sun time; negative: before it"));
    auto* sunTime = withId(new QLabel, ESunTimeControlID);
    sunTime->setWordWrap(true);
    auto* timeRow = new QHBoxLayout;
    timeRow->addWidget(timeKind);
    timeRow->addWidget(offset);
    timeRow->addWidget(time);
    timeRow->addStretch();

    auto* days = new QHBoxLayout;
    const QString names[] = {tr("Mon"), tr("Tue"), tr("Wed"), tr("Thu"),
                             tr("Fri"), tr("Sat"), tr("Sun")};
    for (int d = 0; d < 7; ++d)
        days->addWidget(commandCheckBox(names[d], "dayc", MonControlID + d));
    days->addStretch();

    auto* form = new QFormLayout;
    form->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
    form->addRow(tr("Event number:"), m_number);
    form->addRow(tr("House code:"), house);
    form->addRow(tr("Function:"), func);
    form->addRow(tr("Dim level:"), dim);
    form->addRow(tr("Mode:"), mode);
    form->addRow(tr("Days:"), days);
    form->addRow(tr("Time:"), timeRow);
    form->addRow(QString(), sunTime);

    m_drawer = new DevCkWindow;

    auto* ok = commandButton(tr("OK"), "doIt", DoItControlID);
    ok->setDefault(true);
    auto* buttons = new QHBoxLayout;
    m_drawerButton = commandButton(tr("Hide Units"), "devE");
    buttons->addWidget(m_drawerButton);
    buttons->addStretch();
    buttons->addWidget(commandButton(tr("Close"), "clos"));
    buttons->addWidget(ok);

    auto* outer = new QVBoxLayout(this);
    outer->addLayout(form);
    outer->addWidget(m_drawer);
    outer->addLayout(buttons);
    outer->setSizeConstraint(QLayout::SetFixedSize);
    setDrawerOpen(false);
}

void EditWindow::setDrawerOpen(bool open)
{
    m_drawer->setVisible(open);
    m_drawerButton->setText(open ? tr("Hide Units") : tr("Show Units"));
}

bool EditWindow::drawerOpen() const
{
    return !m_drawer->isHidden();
}

}  // namespace ui
