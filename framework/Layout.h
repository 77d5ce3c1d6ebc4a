// Stored layouts: a readable text description of a tree of named, typed
// components with their property values and event bindings.
//
//   // A comment runs to the end of the line.
//   DemoForm : TDemoForm {
//     Caption = "Демо"            // UTF-8; \" \\ \n \t \r \xHH escapes
//     Left = 100                   // integers: decimal or $hex
//     Visible = false              // true / false
//     Color = clBtnFace            // named colour, rgb(0, 255, 0) or a raw $00BBGGRR
//     Font.Height = 11             // nested object properties
//     Font.Style = [fsBold]        // sets
//     BorderStyle = bsDialog       // enumerations and named constants
//     Menu = MainMenu1             // a reference to another component
//     OnCreate = FormCreate        // an event bound to a handler of the root
//     Items = ("COM1", "COM2")     // string lists, may span lines
//     XOnChar = #17                // a character by its code
//     Panel1 : TPanel {            // a nested component: owned by the root,
//       Align = alBottom           // nested in (the parent of) the enclosing one
//     }
//   }
//
// Properties are set through their setters in the order they appear, with
// every component read in the loading state; references are resolved once
// the whole tree is read, then Loaded() runs on the root and every
// component read, in the order of creation. Unknown classes, properties,
// values and handlers are an ELayoutError naming the source and the line;
// malformed text never crashes the reader.
//
// Thread safety: read and write on the window's thread only.
#pragma once

#include <string>
#include <string_view>

#include "framework/Classes.h"

namespace framework {

class ELayoutError : public Exception {
 public:
  ELayoutError(const std::string& source, int line, const std::string& message)
      : Exception(source + "(" + std::to_string(line) + "): " + message), line_(line) {}
  int Line() const { return line_; }

 private:
  int line_;
};

// Reads Text into Root. The root object's class in the text must be
// Root.ClassName(); its nested components are created by registered class
// name (RegisterClass) and owned by Root. Handlers come from Root.Handlers().
void ReadLayout(std::string_view text, TComponent& root, std::string_view source = "layout");

// Reads the embedded resource Name of type LAYOUT into Root (ELayoutError
// when there is no such resource).
void ReadLayoutResource(std::string_view name, TComponent& root);

// Writes Root and the components nested in it: every property that differs
// from its default or is always written, and every event binding.
std::string WriteLayout(const TComponent& root);

}  // namespace framework
