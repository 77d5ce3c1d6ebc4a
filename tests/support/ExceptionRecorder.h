// Takes the application's exception handling over for the life of the
// object and keeps what reached it, so tests can see what a user would
// have been shown.
#pragma once

#include <exception>
#include <string>
#include <vector>

#include "framework/Application.h"

namespace test {

class ExceptionRecorder {
 public:
  ExceptionRecorder() {
    framework::Application->OnException = [this](framework::TObject* sender, const std::exception& e) {
      senders.push_back(sender);
      texts.push_back(framework::ExceptionText(e));
    };
  }
  ~ExceptionRecorder() { framework::Application->OnException = nullptr; }
  ExceptionRecorder(const ExceptionRecorder&) = delete;
  ExceptionRecorder& operator=(const ExceptionRecorder&) = delete;

  std::vector<framework::TObject*> senders;
  std::vector<std::string> texts;
};

}  // namespace test
