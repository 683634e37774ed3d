#include "quorvel/device_names_window.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>

#include "quorvel/control_ids.h"
#include "state/device_names.h"

namespace ui {

DevNamesWindow::DevNamesWindow(QWidget* parent) : ShellDialog(parent, tr("Device Names"))
{
    auto* house = withId(new QComboBox, DNHouseControlID);
    for (char c = 'A'; c <= 'P'; ++c)
        house->addItem(QString(QLatin1Char(c)));
    setCommand(house, "DNhc");
    auto* top = new QFormLayout;
    top->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
    top->addRow(tr("House code:"), house);

    // The names are stored as ASCII, as the other programs read them.
    auto* ascii = new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[ -~]*")), this);
    auto* grid = new QGridLayout;
    for (int u = 1; u <= state::kUnits; ++u) {
        auto* field = withId(new QLineEdit, DNNameFirstControlID + u - 1);
        field->setMaxLength(state::kMaxDeviceName);
        field->setValidator(ascii);
        field->setPlaceholderText(QString::fromStdString(state::defaultDeviceName(u)));
        field->setMinimumWidth(180);
        auto* kind = withId(new QComboBox, DNKindFirstControlID + u - 1);
        kind->addItems({tr("Lamp"), tr("Appliance")});
        kind->setToolTip(tr("A lamp dims; an appliance module only switches on and off."));
        const int row = (u - 1) % 8;
        const int col = (u - 1) / 8 * 3;
        auto* label = new QLabel(tr("Unit %1:").arg(u));
        label->setBuddy(field);
        grid->addWidget(label, row, col, Qt::AlignRight);
        grid->addWidget(field, row, col + 1);
        grid->addWidget(kind, row, col + 2);
    }
    auto* note = new QLabel(tr("An empty field keeps the unit's default name (Device 1 ... Device 16). "
                               "A name may have at most %1 characters. "
                               "A lamp dims; an appliance only switches on and off.").arg(state::kShownDeviceName));
    note->setWordWrap(true);

    auto* save = commandButton(tr("Save"), "DNsv");
    save->setDefault(true);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(commandButton(tr("Close"), "clos"));
    buttons->addWidget(save);

    auto* box = new QVBoxLayout(this);
    box->addLayout(top);
    box->addLayout(grid);
    box->addWidget(note);
    box->addLayout(buttons);
}

}  // namespace ui
