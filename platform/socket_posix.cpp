#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/socket.h"

namespace platform {
namespace {

int Failure() { return -errno; }

bool MakeNonBlocking(int descriptor) {
  const int flags = fcntl(descriptor, F_GETFL, 0);
  return flags >= 0 && fcntl(descriptor, F_SETFL, flags | O_NONBLOCK) == 0;
}

struct AddressList {
  addrinfo* head = nullptr;
  ~AddressList() {
    if (head != nullptr) freeaddrinfo(head);
  }
};

// The addresses of host:port; getaddrinfo's own codes become errno values.
int Resolve(const std::string& host, std::uint16_t port, bool passive, AddressList& list) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = passive ? AI_PASSIVE : 0;
  const std::string service = std::to_string(port);
  const int code = getaddrinfo(host.c_str(), service.c_str(), &hints, &list.head);
  if (code == 0) return 0;
  if (code == EAI_SYSTEM) return Failure();
  return code == EAI_MEMORY ? -ENOMEM : -EADDRNOTAVAIL;
}

}  // namespace

int SocketWouldBlock() { return -EAGAIN; }

Socket& Socket::operator=(Socket&& other) noexcept {
  if (this != &other) {
    Close();
    descriptor_ = other.descriptor_;
    other.descriptor_ = -1;
  }
  return *this;
}

void Socket::Close() {
  if (descriptor_ >= 0) ::close(descriptor_);
  descriptor_ = -1;
}

int ListenTcp(const std::string& host, std::uint16_t port, Socket& listener) {
  AddressList list;
  if (const int resolved = Resolve(host, port, true, list); resolved != 0) return resolved;
  int result = -EADDRNOTAVAIL;
  for (const addrinfo* a = list.head; a != nullptr; a = a->ai_next) {
    Socket candidate(::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol));
    if (!candidate.Valid()) {
      result = Failure();
      continue;
    }
    // A server restarted at once finds its old connections in TIME_WAIT;
    // this lets it bind again without letting two listeners share a port.
    const int on = 1;
    ::setsockopt(candidate.Descriptor(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(candidate.Descriptor(), a->ai_addr, a->ai_addrlen) != 0 ||
        ::listen(candidate.Descriptor(), 16) != 0 || !MakeNonBlocking(candidate.Descriptor())) {
      result = Failure();
      continue;
    }
    listener = std::move(candidate);
    return 0;
  }
  return result;
}

int LocalAddress(const Socket& socket, std::string& host, std::uint16_t& port) {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  if (::getsockname(socket.Descriptor(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
    return Failure();
  char text[INET6_ADDRSTRLEN] = {};
  if (address.ss_family == AF_INET6) {
    const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
    ::inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
    port = ntohs(v6.sin6_port);
  } else {
    const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
    ::inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
    port = ntohs(v4.sin_port);
  }
  host = text;
  return 0;
}

int AcceptTcp(const Socket& listener, Socket& connection) {
  const int descriptor = ::accept4(listener.Descriptor(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (descriptor < 0) return errno == EWOULDBLOCK ? SocketWouldBlock() : Failure();
  connection = Socket(descriptor);
  // Answers are short lines; each should leave at once.
  const int on = 1;
  ::setsockopt(descriptor, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  return 0;
}

int ConnectTcp(const std::string& host, std::uint16_t port, Socket& connection) {
  AddressList list;
  if (const int resolved = Resolve(host, port, false, list); resolved != 0) return resolved;
  int result = -EADDRNOTAVAIL;
  for (const addrinfo* a = list.head; a != nullptr; a = a->ai_next) {
    Socket candidate(::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol));
    if (!candidate.Valid() || ::connect(candidate.Descriptor(), a->ai_addr, a->ai_addrlen) != 0 ||
        !MakeNonBlocking(candidate.Descriptor())) {
      result = Failure();
      continue;
    }
    connection = std::move(candidate);
    return 0;
  }
  return result;
}

long ReceiveSome(const Socket& socket, char* buffer, std::size_t size) {
  const ssize_t count = ::recv(socket.Descriptor(), buffer, size, 0);
  if (count >= 0) return count;
  return errno == EWOULDBLOCK || errno == EINTR ? SocketWouldBlock() : Failure();
}

long SendSome(const Socket& socket, const char* data, std::size_t size) {
  const ssize_t count = ::send(socket.Descriptor(), data, size, MSG_NOSIGNAL);
  if (count >= 0) return count;
  return errno == EWOULDBLOCK || errno == EINTR ? SocketWouldBlock() : Failure();
}

void ShutdownSending(const Socket& socket) { ::shutdown(socket.Descriptor(), SHUT_WR); }

std::string SocketErrorText(long result) {
  return result < 0 ? std::strerror(static_cast<int>(-result)) : "no error";
}

SocketWaker::SocketWaker() : descriptor_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

SocketWaker::~SocketWaker() {
  if (descriptor_ >= 0) ::close(descriptor_);
}

void SocketWaker::Wake() {
  const std::uint64_t one = 1;
  // A full counter already wakes the waiter; nothing more to do then.
  [[maybe_unused]] const ssize_t written = ::write(descriptor_, &one, sizeof one);
}

void SocketWaker::Clear() {
  std::uint64_t count = 0;
  [[maybe_unused]] const ssize_t read = ::read(descriptor_, &count, sizeof count);
}

int WaitSockets(std::span<SocketWait> sockets, SocketWaker& waker, int timeoutMs) {
  std::vector<pollfd> polled(sockets.size() + 1);
  polled[0] = {waker.Descriptor(), POLLIN, 0};
  for (std::size_t i = 0; i < sockets.size(); ++i) {
    const SocketWait& s = sockets[i];
    const short events = static_cast<short>((s.read ? POLLIN : 0) | (s.write ? POLLOUT : 0));
    polled[i + 1] = {s.socket->Descriptor(), events, 0};
  }
  const int count = ::poll(polled.data(), polled.size(), timeoutMs);
  if (count < 0) return errno == EINTR ? 0 : Failure();
  int ready = 0;
  for (std::size_t i = 0; i < sockets.size(); ++i) {
    SocketWait& s = sockets[i];
    const short got = polled[i + 1].revents;
    s.readable = (got & POLLIN) != 0;
    s.writable = (got & POLLOUT) != 0;
    s.failed = (got & (POLLERR | POLLHUP | POLLNVAL)) != 0;
    if (s.readable || s.writable || s.failed) ++ready;
  }
  return ready;
}

}  // namespace platform
