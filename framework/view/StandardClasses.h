// The view library's standard classes in the class registry.
//
// The core's registry knows no controls; every constructor of a standard
// control, menu or timer calls this first, so a layout that names them can
// be read as soon as its root form exists.
//
// Thread safety: any thread (once only, guarded).
#pragma once

namespace framework::detail {

// Registers TLabel, TButton, TEdit, TComboBox, TPanel, TBevel, TTimer,
// TMainMenu and TMenuItem. Calls after the first do nothing.
void RegisterStandardClasses();

}  // namespace framework::detail
