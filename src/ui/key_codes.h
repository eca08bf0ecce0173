// Names of the KeyCodes the program reacts to. A KeyCode is a 16-bit key in
// the PC BIOS layout: scan code in the high byte, character in the low byte.
// Keys without a character (function keys, arrows, Alt+letter) have a zero
// low byte and are told apart by their scan code alone.
#pragma once

namespace kora {

constexpr int scan_code(int key) { return (key >> 8) & 0xFF; }
constexpr int key_char(int key) { return key & 0xFF; }
// A key without a character part.
constexpr bool is_extended_key(int key) { return key_char(key) == 0; }

// ---- keys with a character ------------------------------------------------------

inline constexpr int kKeyEsc = 0x011B;
inline constexpr int kKeyBackspace = 0x0E08;
inline constexpr int kKeyCtrlBackspace = 0x0E7F;
inline constexpr int kKeyTab = 0x0F09;
inline constexpr int kKeyEnter = 0x1C0D;
inline constexpr int kKeyCtrlEnter = 0x1C0A;
inline constexpr int kKeySpace = 0x3920;
inline constexpr int kKeyCtrlB = 0x3002;
inline constexpr int kKeyCtrlD = 0x2004;
inline constexpr int kKeyCtrlE = 0x1205;
inline constexpr int kKeyCtrlQ = 0x1011;
inline constexpr int kKeyCtrlR = 0x1312;
inline constexpr int kKeyCtrlS = 0x1F13;
inline constexpr int kKeyCtrlBackslash = 0x2B1C;
inline constexpr int kKeyCtrlY = 0x1519;
inline constexpr int kKeyCtrlZ = 0x2C1A;
// Ctrl+G: every terminal sends it as itself, where Ctrl+[ is Esc. Terminals
// that report modifiers give Ctrl+[ the same code.
inline constexpr int kKeyCtrlG = 0x1A1B;
inline constexpr int kKeyCtrlRightBracket = 0x1B1D;  // Ctrl+]
inline constexpr int kKeyAltTab = 0x9409;
// Not sent by any key of the keyboard layer; a macro can play it.
inline constexpr int kKeyQuickFilterAdd = 0x12F5;

// ---- keys without a character -------------------------------------------------------

inline constexpr int kKeyShiftTab = 0x0F00;
inline constexpr int kKeyAltE = 0x1200;
inline constexpr int kKeyAltT = 0x1400;
inline constexpr int kKeyAltO = 0x1800;
inline constexpr int kKeyAltA = 0x1E00;
inline constexpr int kKeyAltS = 0x1F00;
inline constexpr int kKeyAltF = 0x2100;
inline constexpr int kKeyAltH = 0x2300;
inline constexpr int kKeyAltV = 0x2F00;
inline constexpr int kKeyAltM = 0x3200;

inline constexpr int kKeyF1 = 0x3B00;
inline constexpr int kKeyF2 = 0x3C00;
inline constexpr int kKeyF3 = 0x3D00;
inline constexpr int kKeyF4 = 0x3E00;
inline constexpr int kKeyF5 = 0x3F00;
inline constexpr int kKeyF6 = 0x4000;
inline constexpr int kKeyF7 = 0x4100;
inline constexpr int kKeyF8 = 0x4200;
inline constexpr int kKeyF9 = 0x4300;
inline constexpr int kKeyF10 = 0x4400;
inline constexpr int kKeyF11 = 0x8500;
inline constexpr int kKeyF12 = 0x8600;

inline constexpr int kKeyHome = 0x4700;
inline constexpr int kKeyUp = 0x4800;
inline constexpr int kKeyPgUp = 0x4900;
inline constexpr int kKeyLeft = 0x4B00;
inline constexpr int kKeyRight = 0x4D00;
inline constexpr int kKeyEnd = 0x4F00;
inline constexpr int kKeyDown = 0x5000;
inline constexpr int kKeyPgDn = 0x5100;
inline constexpr int kKeyIns = 0x5200;
inline constexpr int kKeyDel = 0x5300;

inline constexpr int kKeyShiftF1 = 0x5400;
inline constexpr int kKeyShiftF2 = 0x5500;
inline constexpr int kKeyShiftF3 = 0x5600;
inline constexpr int kKeyShiftF4 = 0x5700;
inline constexpr int kKeyShiftF5 = 0x5800;
inline constexpr int kKeyShiftF6 = 0x5900;
inline constexpr int kKeyShiftF7 = 0x5A00;
inline constexpr int kKeyShiftF8 = 0x5B00;
inline constexpr int kKeyShiftF9 = 0x5C00;
inline constexpr int kKeyShiftF10 = 0x5D00;
inline constexpr int kKeyShiftF11 = 0x8700;
inline constexpr int kKeyShiftF12 = 0x8800;

inline constexpr int kKeyCtrlF1 = 0x5E00;
inline constexpr int kKeyCtrlF2 = 0x5F00;
inline constexpr int kKeyCtrlF3 = 0x6000;
inline constexpr int kKeyCtrlF4 = 0x6100;
inline constexpr int kKeyCtrlF5 = 0x6200;
inline constexpr int kKeyCtrlF6 = 0x6300;
inline constexpr int kKeyCtrlF7 = 0x6400;
inline constexpr int kKeyCtrlF8 = 0x6500;
inline constexpr int kKeyCtrlF9 = 0x6600;
inline constexpr int kKeyCtrlF10 = 0x6700;
inline constexpr int kKeyCtrlF11 = 0x8900;
inline constexpr int kKeyCtrlF12 = 0x8A00;

inline constexpr int kKeyAltF1 = 0x6800;
inline constexpr int kKeyAltF2 = 0x6900;
inline constexpr int kKeyAltF3 = 0x6A00;
inline constexpr int kKeyAltF4 = 0x6B00;
inline constexpr int kKeyAltF5 = 0x6C00;
inline constexpr int kKeyAltF6 = 0x6D00;
inline constexpr int kKeyAltF7 = 0x6E00;
inline constexpr int kKeyAltF8 = 0x6F00;
inline constexpr int kKeyAltF9 = 0x7000;
inline constexpr int kKeyAltF10 = 0x7100;
inline constexpr int kKeyAltF11 = 0x8B00;
inline constexpr int kKeyAltF12 = 0x8C00;

inline constexpr int kKeyCtrlLeft = 0x7300;
inline constexpr int kKeyCtrlRight = 0x7400;
inline constexpr int kKeyCtrlEnd = 0x7500;
inline constexpr int kKeyCtrlPgDn = 0x7600;
inline constexpr int kKeyCtrlHome = 0x7700;
inline constexpr int kKeyCtrlPgUp = 0x8400;
inline constexpr int kKeyCtrlUp = 0x8D00;
inline constexpr int kKeyCtrlDown = 0x9100;
inline constexpr int kKeyCtrlIns = 0x9200;
inline constexpr int kKeyCtrlDel = 0x9300;
inline constexpr int kKeyCtrlTab = 0x9400;
inline constexpr int kKeyAltHome = 0x9700;
inline constexpr int kKeyAltUp = 0x9800;
inline constexpr int kKeyAltPgUp = 0x9900;
inline constexpr int kKeyAltEnd = 0x9F00;
inline constexpr int kKeyAltDown = 0xA000;
inline constexpr int kKeyAltPgDn = 0xA100;

inline constexpr int kKeyAlt1 = 0x7800;
inline constexpr int kKeyAlt0 = 0x8100;
// Alt+Tab as terminals that report modifiers send it (Esc, Tab).
inline constexpr int kKeyAltTabSequence = 0xA500;
// Ctrl+. starts and stops the recording of a macro.
inline constexpr int kKeyCtrlDot = 0xBE00;

// Shift with the cursor keys, Ins and Del. The BIOS gives these the plain
// keys' codes; the text editor selects with them, so they get codes of their
// own where the terminal tells Shift apart (escape sequences, or the Linux
// console's shift state).
inline constexpr int kKeyShiftUp = 0xB000;
inline constexpr int kKeyShiftDown = 0xB100;
inline constexpr int kKeyShiftLeft = 0xB200;
inline constexpr int kKeyShiftRight = 0xB300;
inline constexpr int kKeyShiftHome = 0xB400;
inline constexpr int kKeyShiftEnd = 0xB500;
inline constexpr int kKeyShiftPgUp = 0xB600;
inline constexpr int kKeyShiftPgDn = 0xB700;
inline constexpr int kKeyShiftIns = 0xB800;
inline constexpr int kKeyShiftDel = 0xB900;

// The plain key of one of these (Up for Shift+Up); any other key as it is.
// Screens that do not select take them as the plain keys, as they always
// did.
constexpr int unshifted_key(int key) {
  constexpr int kPlain[] = {0x4800, 0x5000, 0x4B00, 0x4D00, 0x4700, 0x4F00, 0x4900, 0x5100, 0x5200, 0x5300};
  int scan = scan_code(key);
  if (key_char(key) != 0 || scan < 0xB0 || scan > 0xB9) return key;
  return kPlain[scan - 0xB0];
}

}  // namespace kora
