// The program: the front panel's window on the application's loop. It
// reads no command line and keeps no settings between runs.
#include <cstdio>
#include <exception>
#include <memory>

#include "app/Unit1.h"
#include "errors/SioStrRes.h"
#include "framework/Application.h"

int main() {
  // The message texts must be readable before anything can fail; a
  // program without them is broken, and says so.
  std::unique_ptr<errors::TSioStringReaders> readers;
  try {
    readers = std::make_unique<errors::TSioStringReaders>();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tesmar: %s\n", e.what());
    return 1;
  }
  framework::Application->Initialize();
  app::TForm1* Form1 = nullptr;
  framework::Application->CreateForm(Form1);
  framework::Application->Run();
  // The window (and with it the port) goes while the texts still exist.
  framework::Application->Shutdown();
  return 0;
}
