#pragma once
// The Time Correction window ("VeskWindow"), its entry editor
// ("VeskEdWindow") and the reset of the reference dates ("ResetWindow"):
// layout only. TimeCorrectionHandler (time_correction_handler.h) does the work.
#include "quorvel/shell_dialog.h"

class QLabel;
class QLineEdit;
class QStandardItemModel;
class QTimeEdit;
class QTreeView;

namespace ui {

// What a correction type makes an event follow, as the windows say it:
// "Sunrise", "Sunset", "DST only".
QString correctionKindText(int corrType);
// Minutes after midnight as the user's locale writes a time ("4:28 PM").
QString localeTime(int minutes);

class VeskWindow : public ShellDialog {
public:
    explicit VeskWindow(QWidget* parent);
    QTreeView* list() const { return m_list; }
    QStandardItemModel* model() const { return m_model; }
    QTimeEdit* timeControl() const { return m_time; }
    QLineEdit* latitudeField() const { return m_latitude; }
    QLineEdit* longitudeField() const { return m_longitude; }

private:
    QTreeView* m_list = nullptr;
    QStandardItemModel* m_model = nullptr;
    QTimeEdit* m_time = nullptr;
    QLineEdit* m_latitude = nullptr;
    QLineEdit* m_longitude = nullptr;
};

// The list's columns.
enum VeskColumn { VColEvent, VColTime, VColDevice, VColKind, VColOffset, VColProtect, VColCount };
// The entry editor's list of events to pick from.
enum PickColumn { PColEvent, PColTime, PColDevice, PColCount };

class VeskEdWindow : public ShellDialog {
public:
    explicit VeskEdWindow(QWidget* parent);
    QTreeView* picker() const { return m_picker; }
    QStandardItemModel* pickModel() const { return m_pickModel; }

private:
    QTreeView* m_picker = nullptr;
    QStandardItemModel* m_pickModel = nullptr;
};

class ResetWindow : public ShellDialog {
public:
    explicit ResetWindow(QWidget* parent);
};

}  // namespace ui
