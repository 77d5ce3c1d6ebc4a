// Message boxes.
//
// On a headless platform (offscreen) nobody could answer a box: the text is
// printed to stderr and the box answers with its first button at once.
//
// Thread safety: the window's thread only.
#pragma once

#include <string>

namespace framework {

// Buttons and icons (combine one of each).
constexpr unsigned MB_OK = 0x00;
constexpr unsigned MB_OKCANCEL = 0x01;
constexpr unsigned MB_YESNO = 0x04;
constexpr unsigned MB_YESNOCANCEL = 0x03;
constexpr unsigned MB_ICONERROR = 0x10;
constexpr unsigned MB_ICONQUESTION = 0x20;
constexpr unsigned MB_ICONWARNING = 0x30;
constexpr unsigned MB_ICONINFORMATION = 0x40;

// Answers.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

// Shows Text modally with Caption; returns the button pressed (IDCANCEL
// when the box is closed without one).
int MessageBox(const std::string& text, const std::string& caption, unsigned flags = MB_OK);
// A box with the application's title and an OK button.
void ShowMessage(const std::string& text);

}  // namespace framework
