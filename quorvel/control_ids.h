#pragma once
// Control IDs of the controller's windows: the number n of ('CP29', n).
// Code, tests and scripts find every control by these numbers (see
// controls.h), so they are fixed; the layout around them is free.

namespace ui {

// Main window and its device-names drawer.
constexpr int UpdControlID = 130;
constexpr int DelControlID = 131;
constexpr int SavControlID = 134;
constexpr int PortControlID = 135;
constexpr int SrceControlID = 137;
constexpr int FndControlID = 138;
constexpr int DevNameFirstControlID = 140;  // 140..155: name slot 0..15 of the shown event
constexpr int HCControlID = 156;
constexpr int EvtNControlID = 157;
constexpr int ListControlID = 160;

// Progress sheet.
constexpr int PrgsControlID = 136;
constexpr int CopyControlID = 139;

// Event editor and its unit drawer.
constexpr int HouseControlID = 170;
constexpr int FuncControlID = 171;
constexpr int ModeControlID = 172;
constexpr int DimControlID = 173;
constexpr int MonControlID = 174;  // 174..180: Monday..Sunday
constexpr int SunControlID = 180;
constexpr int TimeControlID = 181;
constexpr int ENumControlID = 182;
constexpr int UnitFirstControlID = 200;  // 200..215: unit 1..16
constexpr int DoItControlID = 220;

// Search, send, confirmation, clock, base code, status, preferences.
constexpr int CBoxControlID = 190;
constexpr int MessControlID = 221;
constexpr int CTimeControlID = 225;
constexpr int CDayControlID = 226;
constexpr int BCodeControlID = 227;
constexpr int SallControlID = 255;
constexpr int ShighControlID = 256;
constexpr int SchgControlID = 257;
constexpr int PWarnControlID = 270;
constexpr int PClckControlID = 271;
constexpr int PR290ControlID = 272;
constexpr int PHelpControlID = 273;
constexpr int SButtControlID = 280;
constexpr int SMessControlID = 281;

// Planning windows.
// Schedules window and its editor.
constexpr int SSavControlID = 230;
constexpr int SUpdControlID = 231;
constexpr int SDelControlID = 232;
constexpr int STimControlID = 233;
constexpr int ListSControlID = 234;
constexpr int SAddControlID = 236;
constexpr int MonSControlID = 260;
constexpr int DaySControlID = 261;
constexpr int FileSControlID = 262;
constexpr int SDoItControlID = 263;
constexpr int EventSControlID = 264;
// Clock Sync window.
constexpr int CMonControlID = 310;  // 310..316: Monday..Sunday
constexpr int CSunControlID = 316;
constexpr int CTimControlID = 317;
constexpr int CSavControlID = 318;

// Time Correction window, its entry editor and the reset window.
constexpr int TSavControlID = 240;
constexpr int TDelControlID = 242;
constexpr int TTimControlID = 243;
constexpr int ListTControlID = 244;
constexpr int TUpdControlID = 245;
constexpr int TAddControlID = 246;
constexpr int TEvtControlID = 250;
constexpr int TTypControlID = 251;
constexpr int TPrTControlID = 252;
constexpr int TDItControlID = 253;
constexpr int TMonControlID = 290;  // 290..296: Monday..Sunday
constexpr int TSunControlID = 296;
constexpr int TLCSUControlID = 297;
constexpr int TLCSDControlID = 298;
constexpr int TRst1ControlID = 299;
constexpr int TRSUControlID = 300;
constexpr int TRSDControlID = 301;
constexpr int TRsetControlID = 302;

// Our own addition: the line in the main window that tells the user about a
// failed CP290 operation or file access.
constexpr int NoteControlID = 400;
// Cancel on the progress sheet and on the self-test status window (command
// 'stop'), and the progress sheet's estimate of the time left.
constexpr int CancelControlID = 401;
constexpr int TimeLeftControlID = 402;
// The Device Names window: the house letter menu, the names of units 1..16
// and their kinds.
constexpr int DNHouseControlID = 410;
constexpr int DNNameFirstControlID = 411;  // 411..426: unit 1..16
constexpr int DNKindFirstControlID = 711;  // 711..726: unit 1..16 a lamp (1) or an appliance (2)

// Our own additions to the Time Correction window: the location the sun's
// times are computed for, today's sunrise and sunset there, and a line that
// tells the user why a save did not go through.
constexpr int TLatControlID = 430;
constexpr int TLonControlID = 431;
constexpr int TSunTimesControlID = 432;
constexpr int TNoteControlID = 433;

// Our own: the Automation window (menu Planning, 'AUto'). The planned work,
// the line saying the crontab could not be read, the snapshots, the text
// standing in for an empty snapshot list, Open ('opnA') and Refresh ('rfsA').
constexpr int AWrkControlID = 440;
constexpr int ACronControlID = 441;
constexpr int ASnpControlID = 442;
constexpr int ANoSnpControlID = 443;
constexpr int AOpnControlID = 444;
constexpr int ARfsControlID = 445;
constexpr int AYearControlID = 446;

// Our own: the entry editor of the Time Correction window offers the events
// to pick from (number, time, device); the event editor's time is fixed or
// follows sunrise or sunset with an offset, today's sun time shown beside it.
constexpr int TPickControlID = 490;
constexpr int ETimeKindControlID = 491;  // 1 fixed, 2 at sunrise, 3 at sunset
constexpr int EOffsetControlID = 492;    // minutes, negative: before
constexpr int ESunTimeControlID = 493;

// Year Ahead window.
constexpr int TYInfoControlID = 480;
constexpr int TYHoverControlID = 481;
constexpr int TYExportControlID = 482;

}  // namespace ui
