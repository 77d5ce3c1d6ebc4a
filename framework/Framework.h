// The windowing and runtime framework, in one include.
//
//   Classes.h      TObject, TPersistent, TComponent: names, ownership (the
//                  owner frees its components in reverse order of creation),
//                  Tag, loading state, Loaded, Notification, handler tables.
//   Properties.h   published properties, TClassInfo, DefineClass, the class
//                  registry (RegisterClass, FindClass), TSet.
//   Layout.h       the stored layout text format: ReadLayout, WriteLayout.
//   Graphics.h     TColor and the named colours, TFont.
//   Controls.h     TControl, TWinControl: geometry, alignment, colour, font.
//   StdCtrls.h     TLabel, TButton, TEdit, TComboBox; modal results.
//   ExtCtrls.h     TPanel, TBevel, TTimer.
//   Menus.h        TMainMenu, TMenuItem (radio groups, check marks).
//   Forms.h        TForm: outer geometry, menu, ShowModal, OnCreate.
//   Application.h  TApplication and Application: Initialize, CreateForm,
//                  Run, Terminate, ProcessMessages, HandleException;
//                  CallGuarded.
//   Dialogs.h      MessageBox, ShowMessage.
//   SysUtils.h     StrToInt, IntToStr, IntToHex, Trim, Format, Windows-1251.
//   Thread.h       TThread.
//   Exception.h    Exception, EConvertError.
//
//   ExceptionSink.h HandleException: where exceptions no caller takes go.
//
// Everything runs on the window's (main) thread unless a header says
// otherwise. Classes, Properties, Layout, Graphics, SysUtils, Thread,
// Exception and ExceptionSink are the core (tesmar_framework), plain C++
// that names no Qt type; the rest is the view library
// (tesmar_framework_view), the only one that includes and links Qt. Its
// headers name Qt classes but include none of them.
#pragma once

#include "framework/Application.h"
#include "framework/Classes.h"
#include "framework/Controls.h"
#include "framework/Dialogs.h"
#include "framework/Exception.h"
#include "framework/ExtCtrls.h"
#include "framework/Forms.h"
#include "framework/Graphics.h"
#include "framework/Layout.h"
#include "framework/Menus.h"
#include "framework/Properties.h"
#include "framework/StdCtrls.h"
#include "framework/SysUtils.h"
