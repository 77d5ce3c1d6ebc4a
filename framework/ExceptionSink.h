// Where an exception goes that no caller can take: one let out by an event
// handler, a window procedure or a component while it loads. The core only
// passes it on; the application (TApplication, in the view library)
// installs itself as the sink and decides how it is shown. With no sink
// installed, the exception's text goes to stderr.
//
// Thread safety: the sink is installed and used on the window's thread.
#pragma once

#include <functional>

namespace framework {

class TObject;

// Runs inside a catch block; std::current_exception() is the exception.
using TExceptionSink = std::function<void(TObject* Sender)>;

// Installs Sink; an empty one restores the default (stderr).
void SetExceptionSink(TExceptionSink sink);

// Called from a catch block: hands the current exception to the sink.
// Never throws.
void HandleException(TObject* Sender) noexcept;

}  // namespace framework
