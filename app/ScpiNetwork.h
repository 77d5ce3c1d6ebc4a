// The network side of the SCPI server: a thread that listens, takes
// connections and cuts what clients send into lines, and writes the
// answers back. It knows nothing of the meter; the window's thread takes
// the events and hands back one answer per line (TScpiServer).
//
// Lines end with LF; a CR before it is dropped. A line longer than
// kMaxLineBytes is not kept: the bytes up to its LF are thrown away and an
// Overrun event stands for it. At most kMaxClients are connected at once;
// a connection beyond them is closed at once. A client that has
// kMaxLinesInFlight lines waiting for their answers is not read from until
// answers have gone out, and one whose answers pile up beyond
// kMaxPendingOutput unread is dropped (its Gone event follows), so that no
// client can make the program hold more than these bounds.
//
// Thread safety: Start, Stop, TakeEvents and Answer are for one thread
// (the window's); the network thread runs inside. Lock: mutex_ guards
// events_, answers_ and the stop flag, and is never held across a wait or
// a call out (the wake hook runs after it is released).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/socket.h"

namespace app {

class TScpiNetwork {
 public:
  static constexpr std::size_t kMaxLineBytes = 64 * 1024;
  static constexpr std::size_t kMaxClients = 16;
  static constexpr std::size_t kMaxLinesInFlight = 64;
  static constexpr std::size_t kMaxPendingOutput = 1024 * 1024;

  struct Event {
    enum class Kind { Line, Overrun, Gone };
    Kind kind = Kind::Line;
    std::uint64_t client = 0;
    std::string text;  // the line, without LF (and CR)
  };

  TScpiNetwork();
  ~TScpiNetwork();
  TScpiNetwork(const TScpiNetwork&) = delete;
  TScpiNetwork& operator=(const TScpiNetwork&) = delete;

  // Binds and listens on host:port; 0 or a socket failure (platform/socket.h).
  int Listen(const std::string& host, std::uint16_t port);
  // The address it listens on, as "127.0.0.1:5025" ("[::1]:5025").
  std::string Address() const;
  std::uint16_t Port() const { return port_; }
  // Starts the thread (after a successful Listen). `wake` runs on the
  // network thread whenever events are waiting that were not waiting
  // before; it must not block.
  void Start(std::function<void()> wake);
  // Ends the thread and closes every connection; the destructor does it.
  void Stop();

  std::vector<Event> TakeEvents();
  // The answer to one line of `client` ("" for a line without one); a
  // client that has gone is passed over.
  void Answer(std::uint64_t client, std::string text);

 private:
  struct Connection;
  void Loop();
  void AcceptAll(std::vector<Event>& events);
  // Reads what waits; false when the connection has ended.
  bool ReadFrom(Connection& connection, std::vector<Event>& events);
  void CutLines(Connection& connection, const char* data, std::size_t size, std::vector<Event>& events);
  bool WriteTo(Connection& connection);
  void TakeAnswers();
  void Publish(std::vector<Event>& events);

  std::function<void()> wake_;
  platform::Socket listener_;
  std::string host_;
  std::uint16_t port_ = 0;
  platform::SocketWaker waker_;
  std::vector<std::unique_ptr<Connection>> connections_;  // the network thread's
  std::uint64_t nextClient_ = 1;                          // the network thread's
  std::mutex mutex_;
  std::vector<Event> events_;                                   // guarded by mutex_
  std::vector<std::pair<std::uint64_t, std::string>> answers_;  // guarded by mutex_
  bool stopping_ = false;                                       // guarded by mutex_
  std::thread thread_;
};

}  // namespace app
