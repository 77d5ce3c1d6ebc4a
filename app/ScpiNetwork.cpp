#include "app/ScpiNetwork.h"

#include <algorithm>
#include <utility>

namespace app {

struct TScpiNetwork::Connection {
  std::uint64_t id = 0;
  platform::Socket socket;
  std::string partial;      // the line being received
  bool discarding = false;  // the line being received is too long: dropped up to its LF
  bool ended = false;       // the client has sent all it will send
  bool dead = false;
  std::size_t inFlight = 0;  // lines handed on and not answered yet
  std::string output;
};

TScpiNetwork::TScpiNetwork() = default;

TScpiNetwork::~TScpiNetwork() { Stop(); }

int TScpiNetwork::Listen(const std::string& host, std::uint16_t port) {
  if (!waker_.Valid()) return -1;
  if (const int result = platform::ListenTcp(host, port, listener_); result != 0) return result;
  return platform::LocalAddress(listener_, host_, port_);
}

std::string TScpiNetwork::Address() const {
  const bool v6 = host_.find(':') != std::string::npos;
  return (v6 ? "[" + host_ + "]" : host_) + ":" + std::to_string(port_);
}

void TScpiNetwork::Start(std::function<void()> wake) {
  wake_ = std::move(wake);
  thread_ = std::thread([this] { Loop(); });
}

void TScpiNetwork::Stop() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  waker_.Wake();
  thread_.join();
  connections_.clear();
  listener_.Close();
}

std::vector<TScpiNetwork::Event> TScpiNetwork::TakeEvents() {
  std::lock_guard lock(mutex_);
  return std::exchange(events_, {});
}

void TScpiNetwork::Answer(std::uint64_t client, std::string text) {
  {
    std::lock_guard lock(mutex_);
    answers_.emplace_back(client, std::move(text));
  }
  waker_.Wake();
}

void TScpiNetwork::Loop() {
  for (;;) {
    {
      std::lock_guard lock(mutex_);
      if (stopping_) return;
    }
    TakeAnswers();
    std::vector<platform::SocketWait> waits;
    waits.push_back({&listener_, true});
    bool dropping = false;  // a client whose answers piled up goes at once
    for (const auto& c : connections_) {
      waits.push_back({&c->socket, !c->ended && c->inFlight < kMaxLinesInFlight, !c->output.empty()});
      dropping = dropping || c->dead;
    }
    platform::WaitSockets(waits, waker_, dropping ? 0 : -1);
    waker_.Clear();
    TakeAnswers();
    std::vector<Event> events;
    for (std::size_t i = 0; i < connections_.size(); ++i) {
      Connection& c = *connections_[i];
      const platform::SocketWait& w = waits[i + 1];
      if ((w.readable || w.failed) && !c.ended && !ReadFrom(c, events)) c.dead = true;
      // A hang-up or error: the peer can take no answer any more.
      if (w.failed && !w.readable) c.dead = true;
      if (!c.dead && !c.output.empty() && !WriteTo(c)) c.dead = true;
      if (c.ended && c.inFlight == 0 && c.output.empty()) c.dead = true;
    }
    if (waits[0].readable) AcceptAll(events);
    std::erase_if(connections_, [&events](const std::unique_ptr<Connection>& c) {
      if (c->dead) events.push_back({Event::Kind::Gone, c->id, {}});
      return c->dead;
    });
    Publish(events);
  }
}

void TScpiNetwork::AcceptAll(std::vector<Event>& events) {
  for (;;) {
    platform::Socket socket;
    if (platform::AcceptTcp(listener_, socket) != 0) return;
    // Beyond the limit a client is refused at once rather than left to wait.
    if (connections_.size() >= kMaxClients) continue;
    auto connection = std::make_unique<Connection>();
    connection->id = nextClient_++;
    connection->socket = std::move(socket);
    connections_.push_back(std::move(connection));
  }
}

bool TScpiNetwork::ReadFrom(Connection& connection, std::vector<Event>& events) {
  char buffer[4096];
  while (connection.inFlight < kMaxLinesInFlight) {
    const long count = platform::ReceiveSome(connection.socket, buffer, sizeof buffer);
    if (count == platform::SocketWouldBlock()) return true;
    if (count < 0) return false;
    if (count == 0) {
      connection.ended = true;
      return true;
    }
    CutLines(connection, buffer, static_cast<std::size_t>(count), events);
  }
  return true;
}

void TScpiNetwork::CutLines(Connection& c, const char* data, std::size_t size, std::vector<Event>& events) {
  for (std::size_t i = 0; i < size; ++i) {
    const char byte = data[i];
    if (byte == '\n') {
      if (c.discarding) {
        events.push_back({Event::Kind::Overrun, c.id, {}});
      } else {
        if (!c.partial.empty() && c.partial.back() == '\r') c.partial.pop_back();
        events.push_back({Event::Kind::Line, c.id, std::move(c.partial)});
        ++c.inFlight;
      }
      c.partial.clear();
      c.discarding = false;
    } else if (c.discarding) {
      continue;
    } else if (c.partial.size() >= kMaxLineBytes) {
      c.discarding = true;
      std::string().swap(c.partial);
    } else {
      c.partial += byte;
    }
  }
}

bool TScpiNetwork::WriteTo(Connection& connection) {
  std::size_t sent = 0;
  while (sent < connection.output.size()) {
    const long count = platform::SendSome(connection.socket, connection.output.data() + sent,
                                          connection.output.size() - sent);
    if (count == platform::SocketWouldBlock()) break;
    if (count < 0) return false;
    sent += static_cast<std::size_t>(count);
  }
  connection.output.erase(0, sent);
  return true;
}

void TScpiNetwork::TakeAnswers() {
  std::vector<std::pair<std::uint64_t, std::string>> answers;
  {
    std::lock_guard lock(mutex_);
    answers.swap(answers_);
  }
  for (auto& [client, text] : answers) {
    for (const auto& c : connections_) {
      if (c->id != client) continue;
      if (c->inFlight > 0) --c->inFlight;
      c->output += text;
      if (c->output.size() > kMaxPendingOutput) c->dead = true;
    }
  }
}

void TScpiNetwork::Publish(std::vector<Event>& events) {
  if (events.empty()) return;
  bool first = false;
  {
    std::lock_guard lock(mutex_);
    first = events_.empty();
    for (Event& e : events) events_.push_back(std::move(e));
  }
  if (first && wake_) wake_();
}

}  // namespace app
