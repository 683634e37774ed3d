#include "quorvel/main_window.h"

#include <QAction>
#include <QComboBox>
#include <QEvent>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTreeView>

#include "quorvel/control_ids.h"
#include "quorvel/shell_dialog.h"

namespace ui {
namespace {

QLineEdit* readOnlyField(int id)
{
    auto* f = withId(new QLineEdit, id);
    f->setReadOnly(true);
    f->setFocusPolicy(Qt::NoFocus);
    return f;
}

// Keeps a menu item's enabled state in step with its button.
class EnableMirror : public QObject {
public:
    EnableMirror(QWidget* button, QAction* action) : QObject(button), m_action(action)
    {
        action->setEnabled(button->isEnabled());
        button->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::EnabledChange)
            m_action->setEnabled(static_cast<QWidget*>(watched)->isEnabled());
        return false;
    }

private:
    QAction* m_action;
};

}  // namespace

DevWindow::DevWindow(QWidget* parent) : QWidget(parent)
{
    auto* form = new QFormLayout;
    form->addRow(tr("House:"), readOnlyField(HCControlID));
    form->addRow(tr("Event:"), readOnlyField(EvtNControlID));
    auto* names = new QGridLayout;
    m_heads = {new QLabel(tr("Unit")), new QLabel(tr("Name"))};
    names->addWidget(m_heads[0], 0, 0, Qt::AlignRight);
    names->addWidget(m_heads[1], 0, 1);
    for (int k = 0; k < 16; ++k) {
        m_units[static_cast<size_t>(k)] = new QLabel;
        m_units[static_cast<size_t>(k)]->setMinimumWidth(20);
        names->addWidget(m_units[static_cast<size_t>(k)], k + 1, 0, Qt::AlignRight);
        m_names[static_cast<size_t>(k)] = readOnlyField(DevNameFirstControlID + k);
        names->addWidget(m_names[static_cast<size_t>(k)], k + 1, 1);
    }
    m_hint = new QLabel(tr("Select one event to see the units it switches."));
    m_hint->setWordWrap(true);
    auto* box = new QVBoxLayout(this);
    box->setContentsMargins(6, 0, 0, 0);
    auto* title = new QLabel(tr("<b>Devices of the event</b>"));
    box->addWidget(title);
    box->addLayout(form);
    box->addLayout(names);
    box->addWidget(m_hint);
    box->addStretch();
    setMinimumWidth(220);
}

void DevWindow::setUnitNumbers(const std::vector<int>& units)
{
    // Only the rows of the event's units are shown; the others stay empty.
    for (size_t k = 0; k < m_units.size(); ++k) {
        m_units[k]->setText(k < units.size() ? QString::number(units[k]) : QString());
        m_units[k]->setVisible(k < units.size());
        m_names[k]->setVisible(k < units.size());
    }
    m_hint->setVisible(units.empty());
    for (QLabel* head : m_heads)
        head->setVisible(!units.empty());
}

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent)
{
    setWindowTitle(QStringLiteral("Quorvel"));

    m_list = withId(new QTreeView, ListControlID);
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    m_list->setAllColumnsShowFocus(true);
    m_list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setSortingEnabled(true);
    m_list->setAlternatingRowColors(true);
    m_list->setMinimumWidth(420);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(commandButton(tr("New…"), "addE"));
    buttons->addWidget(commandButton(tr("Change…"), "updE", UpdControlID));
    buttons->addWidget(commandButton(tr("Delete"), "delE", DelControlID));
    buttons->addWidget(commandButton(tr("Find…"), "fndE", FndControlID));
    buttons->addStretch();
    buttons->addWidget(commandButton(tr("Read CP290"), "CPrd"));
    buttons->addWidget(commandButton(tr("Send…"), "CPsd"));
    buttons->addWidget(commandButton(tr("Save"), "savS", SavControlID));
    buttons->addWidget(commandButton(tr("Devices"), "devL"));

    auto* source = withId(new QLabel(QString(30, QLatin1Char(' '))), SrceControlID);
    source->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* port = withId(new QComboBox, PortControlID);
    setCommand(port, "sPrt");
    port->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(new QLabel(tr("Events from:")));
    bottom->addWidget(source, 1);
    bottom->addWidget(new QLabel(tr("Serial device:")));
    bottom->addWidget(port);

    auto* left = new QVBoxLayout;
    left->addLayout(buttons);
    left->addWidget(m_list, 1);
    left->addLayout(bottom);

    m_drawer = new DevWindow;
    m_drawer->hide();
    auto* central = new QWidget;
    auto* row = new QHBoxLayout(central);
    row->addLayout(left, 1);
    row->addWidget(m_drawer);
    setCentralWidget(central);

    auto* note = withId(new QLabel, NoteControlID);
    note->setWordWrap(true);  // a long message shows whole on more lines
    note->setStyleSheet(QStringLiteral("color: #b00000;"));
    statusBar()->addWidget(note, 1);

    buildMenus();
    // Menu items that stand for a button follow its enabled state.
    for (int id : {UpdControlID, DelControlID, SavControlID, FndControlID}) {
        QWidget* b = findControl(this, id);
        if (QAction* a = action(commandOf(b)))
            new EnableMirror(b, a);
    }
    resize(760, 560);
}

void MainWindow::buildMenus()
{
    const auto add = [this](QMenu* menu, const QString& text, const char* code,
                            const QKeySequence& keys = {}) {
        QAction* a = menu->addAction(text);
        setCommand(a, code);
        if (!keys.isEmpty())
            a->setShortcut(keys);
        return a;
    };
    QMenu* file = menuBar()->addMenu(tr("&File"));
    add(file, tr("&Open Schedule…"), "opnS", QKeySequence::Open);
    add(file, tr("&Save Schedule"), "savS", QKeySequence::Save);
    add(file, tr("Save Schedule &As…"), "savA", QKeySequence::SaveAs)
        ->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_S));
    file->addSeparator();
    add(file, tr("&Preferences…"), "pref", QKeySequence::Preferences);
    file->addSeparator();
    add(file, tr("&Quit"), "quit", QKeySequence(Qt::CTRL | Qt::Key_Q));

    QMenu* events = menuBar()->addMenu(tr("&Events"));
    add(events, tr("&New Event…"), "addE", QKeySequence::New);
    add(events, tr("&Change Event…"), "updE", QKeySequence(Qt::CTRL | Qt::Key_E));
    add(events, tr("&Delete Events"), "delE", QKeySequence::Delete);
    events->addSeparator();
    add(events, tr("&Find…"), "fndE", QKeySequence::Find);
    add(events, tr("Sho&w Devices of Event"), "devL", QKeySequence(Qt::CTRL | Qt::Key_D));
    add(events, tr("Device Na&mes…"), "dNam");
    add(events, tr("De&vices…"), "dvSw");
    add(events, tr("&Power Line…"), "pwLn");

    QMenu* cp290 = menuBar()->addMenu(tr("&CP290"));
    add(cp290, tr("&Read Events"), "CPrd", QKeySequence(Qt::Key_F5))
        ->setShortcuts({QKeySequence(Qt::Key_F5), QKeySequence(Qt::CTRL | Qt::Key_R)});
    // A key of its own: Ctrl+Shift+S is Save As on every desktop.
    add(cp290, tr("S&end Events…"), "CPsd", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_D));
    cp290->addSeparator();
    add(cp290, tr("&Clock…"), "CPck");
    add(cp290, tr("&Base House Code…"), "CPbs");
    add(cp290, tr("Self &Test…"), "sTst");

    m_planningMenu = menuBar()->addMenu(tr("&Planning"));
    add(m_planningMenu, tr("Virtual &Schedules…"), "schd");
    add(m_planningMenu, tr("&Clock Sync…"), "sYnc");
    add(m_planningMenu, tr("&Time Correction…"), "TcSl");
    m_planningMenu->addSeparator();
    add(m_planningMenu, tr("A&utomation…"), "AUto");
    add(m_planningMenu, tr("Year &Ahead…"), "yrAh");

    QMenu* help = menuBar()->addMenu(tr("&Help"));
    add(help, tr("&User Guide"), "guid", QKeySequence(Qt::Key_F1));
    add(help, tr("&About Quorvel"), "abut");
}

QAction* MainWindow::action(const QString& code) const
{
    if (code.isEmpty())
        return nullptr;
    for (QAction* a : findChildren<QAction*>())
        if (commandOf(a) == code)
            return a;
    return nullptr;
}

void MainWindow::setDrawerOpen(bool open)
{
    m_drawer->setVisible(open);
}

bool MainWindow::drawerOpen() const
{
    return !m_drawer->isHidden();
}

}  // namespace ui
