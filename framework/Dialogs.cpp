#include "framework/Dialogs.h"

#include <QMessageBox>
#include <cstdio>

#include "framework/Application.h"
#include "framework/QtBridge.h"

namespace framework {

namespace {

int FirstButton(unsigned flags) {
  switch (flags & 0x0F) {
    case MB_YESNO:
    case MB_YESNOCANCEL: return IDYES;
    default: return IDOK;
  }
}

QMessageBox::Icon IconOf(unsigned flags) {
  switch (flags & 0xF0) {
    case MB_ICONERROR: return QMessageBox::Critical;
    case MB_ICONQUESTION: return QMessageBox::Question;
    case MB_ICONWARNING: return QMessageBox::Warning;
    case MB_ICONINFORMATION: return QMessageBox::Information;
    default: return QMessageBox::NoIcon;
  }
}

}  // namespace

int MessageBox(const std::string& text, const std::string& caption, unsigned flags) {
  if (detail::IsHeadless() || !detail::HasGui()) {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    return FirstButton(flags);
  }
  QMessageBox::StandardButtons buttons;
  switch (flags & 0x0F) {
    case MB_OKCANCEL: buttons = QMessageBox::Ok | QMessageBox::Cancel; break;
    case MB_YESNO: buttons = QMessageBox::Yes | QMessageBox::No; break;
    case MB_YESNOCANCEL: buttons = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel; break;
    default: buttons = QMessageBox::Ok;
  }
  QMessageBox box(IconOf(flags), detail::ToQString(caption), detail::ToQString(text), buttons);
  switch (box.exec()) {
    case QMessageBox::Ok: return IDOK;
    case QMessageBox::Yes: return IDYES;
    case QMessageBox::No: return IDNO;
    default: return IDCANCEL;
  }
}

void ShowMessage(const std::string& text) { MessageBox(text, Application->Title(), MB_OK); }

}  // namespace framework
