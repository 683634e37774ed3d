#include "quorvel/time_correction_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTimeEdit>
#include <QTreeView>
#include <QVBoxLayout>

#include "quorvel/control_ids.h"
#include "quorvel/formats.h"

namespace ui {

VeskWindow::VeskWindow(QWidget* parent) : ShellDialog(parent, tr("Time Correction"))
{
    m_model = new QStandardItemModel(0, VColCount, this);
    m_model->setHorizontalHeaderLabels(
        {tr("Event"), tr("Time"), tr("Device"), tr("Follows"), tr("Offset today"), tr("Protected")});
    m_list = withId(new QTreeView, ListTControlID);
    m_list->setModel(m_model);
    m_list->setRootIsDecorated(false);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_list->setSortingEnabled(true);
    m_list->header()->setStretchLastSection(false);
    m_list->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_list->header()->setSectionResizeMode(VColDevice, QHeaderView::Stretch);
    m_list->setMinimumSize(520, 260);

    auto* listButtons = new QHBoxLayout;
    listButtons->addWidget(commandButton(tr("Add…"), "addT", TAddControlID));
    listButtons->addWidget(commandButton(tr("Update…"), "updT", TUpdControlID));
    listButtons->addWidget(commandButton(tr("Delete"), "delT", TDelControlID));
    auto* listBox = new QGroupBox(tr("Events that follow the sun"));
    auto* listLayout = new QVBoxLayout(listBox);
    listLayout->addWidget(m_list, 1);
    listLayout->addLayout(listButtons);

    // When cron starts the correction tool.
    m_time = withId(new QTimeEdit(QTime(1, 0)), TTimControlID);
    m_time->setDisplayFormat(timeFormat());
    auto* days = new QGridLayout;
    const QString names[] = {tr("Mon"), tr("Tue"), tr("Wed"), tr("Thu"), tr("Fri"), tr("Sat"), tr("Sun")};
    const char* codes[] = {"mTcr", "tTcr", "wTcr", "hTcr", "fTcr", "sTcr", "uTcr"};
    for (int d = 0; d < 7; ++d)
        days->addWidget(commandCheckBox(names[d], codes[d], TMonControlID + d), d / 4, d % 4);
    auto* planBox = new QGroupBox(tr("Run the corrections"));
    auto* planForm = new QFormLayout(planBox);
    planForm->addRow(tr("At:"), m_time);
    planForm->addRow(tr("On:"), days);

    auto* datesBox = new QGroupBox(tr("Event times last corrected for"));
    auto* datesForm = new QFormLayout(datesBox);
    datesForm->addRow(tr("Sunrise:"), withId(new QLabel(tr("none")), TLCSUControlID));
    datesForm->addRow(tr("Sunset:"), withId(new QLabel(tr("none")), TLCSDControlID));
    auto* resetRow = new QHBoxLayout;
    resetRow->addStretch();
    resetRow->addWidget(commandButton(tr("Reset Dates…"), "rLdt", TRst1ControlID));
    datesForm->addRow(resetRow);

    m_latitude = withId(new QLineEdit, TLatControlID);
    m_longitude = withId(new QLineEdit, TLonControlID);
    m_latitude->setToolTip(tr("Degrees, north positive (40.7514); empty: the time zone's place"));
    m_longitude->setToolTip(tr("Degrees, east positive (-73.9847 is west); empty: the time zone's place"));
    auto* sunTimes = withId(new QLabel, TSunTimesControlID);
    auto* hint = new QLabel(tr("Degrees, north and east positive.\nEmpty: the time zone's place (greyed)."));
    hint->setEnabled(false);
    auto* placeBox = new QGroupBox(tr("Location"));
    auto* placeForm = new QFormLayout;
    placeForm->addRow(tr("Latitude:"), m_latitude);
    placeForm->addRow(tr("Longitude:"), m_longitude);
    auto* placeLayout = new QVBoxLayout(placeBox);
    placeLayout->addLayout(placeForm);
    placeLayout->addWidget(hint);
    placeLayout->addWidget(sunTimes);

    auto* right = new QVBoxLayout;
    right->addWidget(planBox);
    right->addWidget(datesBox);
    right->addWidget(placeBox);
    right->addStretch();

    auto* columns = new QHBoxLayout;
    columns->addWidget(listBox, 1);
    columns->addLayout(right);

    auto* note = withId(new QLabel, TNoteControlID);
    note->setWordWrap(true);
    note->setStyleSheet(QStringLiteral("color: #b00020"));

    auto* bottom = new QHBoxLayout;
    bottom->addStretch();
    bottom->addWidget(commandButton(tr("Close"), "clos"));
    auto* save = commandButton(tr("Save"), "savT", TSavControlID);
    save->setDefault(true);
    bottom->addWidget(save);

    auto* box = new QVBoxLayout(this);
    box->addLayout(columns, 1);
    box->addWidget(note);
    box->addLayout(bottom);
}

QString correctionKindText(int corrType)
{
    switch (corrType) {
    case 1: return VeskWindow::tr("Sunrise");
    case 2: return VeskWindow::tr("Sunset");
    case 3: return VeskWindow::tr("DST only");
    default: return QString::number(corrType);
    }
}

QString localeTime(int minutes)
{
    return timeText(QTime(minutes / 60, minutes % 60));
}

VeskEdWindow::VeskEdWindow(QWidget* parent) : ShellDialog(parent, tr("Follow the Sun"))
{
    m_pickModel = new QStandardItemModel(0, PColCount, this);
    m_pickModel->setHorizontalHeaderLabels({tr("Event"), tr("Time"), tr("Device")});
    m_picker = withId(new QTreeView, TPickControlID);
    m_picker->setModel(m_pickModel);
    m_picker->setRootIsDecorated(false);
    m_picker->setSelectionMode(QAbstractItemView::SingleSelection);
    m_picker->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_picker->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_picker->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_picker->header()->setStretchLastSection(true);
    m_picker->setMinimumSize(360, 220);
    auto* type = withId(new QComboBox, TTypControlID);
    for (int kind = 1; kind <= 3; ++kind)
        type->addItem(correctionKindText(kind));
    type->setToolTip(tr("DST only: the event keeps its time and moves only by the hour "
                        "when daylight-saving time starts or ends"));
    auto* protect = withId(new QCheckBox(tr("Protect from schedule loads")), TPrTControlID);
    protect->setToolTip(tr("A virtual schedule loaded from the crontab leaves this event alone. "
                           "Available while virtual schedules are planned."));

    auto* form = new QFormLayout;
    form->addRow(tr("Event:"), m_picker);
    form->addRow(tr("Follows:"), type);
    form->addRow(QString(), protect);
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(commandButton(tr("Close"), "clos"));
    auto* ok = commandButton(tr("OK"), "tDIt", TDItControlID);
    ok->setDefault(true);
    row->addWidget(ok);
    auto* box = new QVBoxLayout(this);
    box->addLayout(form);
    box->addLayout(row);
}

ResetWindow::ResetWindow(QWidget* parent) : ShellDialog(parent, tr("Reset Reference Dates"))
{
    auto* text = new QLabel(tr("The next save takes today as the date the event times were last "
                               "corrected for."));
    text->setWordWrap(true);
    auto* row = new QHBoxLayout;
    row->addStretch();
    row->addWidget(commandButton(tr("Close"), "clos"));
    row->addWidget(commandButton(tr("Reset"), "rSun", TRsetControlID));
    auto* box = new QVBoxLayout(this);
    box->addWidget(text);
    box->addWidget(commandCheckBox(tr("Sunrise date"), "rlSu", TRSUControlID));
    box->addWidget(commandCheckBox(tr("Sunset date"), "rlSd", TRSDControlID));
    box->addLayout(row);
}

}  // namespace ui
