#pragma once
// MainWindow: the event list, the main commands, the serial-device menu and
// the device-names drawer (DevWindow) on its right edge. Layout only; the
// handler (main_window_handler.h) gives the commands their meaning.
#include <QMainWindow>
#include <array>
#include <vector>

class QAction;
class QLabel;
class QMenu;
class QTreeView;

namespace ui {

// The drawer: house letter (156), event number (157), names 140..155.
// Beside each name its unit number ("4  Porch light").
class DevWindow : public QWidget {
public:
    explicit DevWindow(QWidget* parent = nullptr);
    // Row k shows unit units[k]; rows past the list show no number.
    void setUnitNumbers(const std::vector<int>& units);

private:
    std::array<QLabel*, 16> m_units{};
    std::array<QWidget*, 16> m_names{};
    std::array<QLabel*, 2> m_heads{};  // "Unit", "Name"
    QLabel* m_hint = nullptr;
};

class MainWindow : public QMainWindow {
public:
    explicit MainWindow(QWidget* parent = nullptr);

    QTreeView* list() const { return m_list; }
    DevWindow* drawer() const { return m_drawer; }
    // The menu holding the planning commands ('schd', 'sYnc', 'TcSl', and
    // the read-only 'AUto'), which an open planning window disables.
    QMenu* planningMenu() const { return m_planningMenu; }
    // Menu items with this command ("" when none).
    QAction* action(const QString& code) const;

    void setDrawerOpen(bool open);
    bool drawerOpen() const;

private:
    void buildMenus();
    QTreeView* m_list = nullptr;
    DevWindow* m_drawer = nullptr;
    QMenu* m_planningMenu = nullptr;
};

}  // namespace ui
