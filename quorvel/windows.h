#pragma once
// The windows the shell builds at start-up, by their interface names. The
// shell hands this to the handlers so they reach their windows without
// knowing the shell.
namespace ui {

class AutomationWindow;
class BaseCWindow;
class ClockWindow;
class DevCkWindow;
class DevNamesWindow;
class DevWindow;
class EditWindow;
class MainWindow;
class MessWindow;
class PrefsWindow;
class ResetWindow;
class SchEdWindow;
class SchedWindow;
class SearchWindow;
class SndWindow;
class StatusWindow;
class SyncWindow;
class TWindow;
class VeskEdWindow;
class VeskWindow;
class YearAheadWindow;

// The windows, in the order start-up creates them.
struct Windows {
    MainWindow* main = nullptr;          // "MainWindow"
    DevWindow* dev = nullptr;            // "DevWindow", drawer of the main window
    EditWindow* edit = nullptr;          // "EditWindow"
    MessWindow* mess = nullptr;          // "MessWindow"
    StatusWindow* stat = nullptr;        // "StatusWindow"
    DevCkWindow* devCk = nullptr;        // "DevCkWindow", drawer of the editor
    ClockWindow* clock = nullptr;        // "ClockWindow"
    BaseCWindow* baseC = nullptr;        // "BaseCWindow"
    TWindow* t = nullptr;                // "tWindow"
    PrefsWindow* prefs = nullptr;        // "PrefsWindow"
    VeskEdWindow* veskEd = nullptr;      // "VeskEdWindow"
    VeskWindow* vesk = nullptr;          // "VeskWindow"
    SchedWindow* sched = nullptr;        // "SchedWindow"
    SchEdWindow* schedEd = nullptr;      // "SchEdWindow"
    SndWindow* snd = nullptr;            // "SndWindow"
    ResetWindow* reset = nullptr;        // "ResetWindow"
    SyncWindow* sync = nullptr;          // "SyncWindow"
    SearchWindow* fnd = nullptr;         // "SearchWindow"
    DevNamesWindow* names = nullptr;     // "DevNamesWindow", our own: the unit names
    YearAheadWindow* year = nullptr;     // our own: the sun corrections of the year ahead
    AutomationWindow* automation = nullptr;  // "AutomationWindow", our own: runs and snapshots
};

}  // namespace ui
