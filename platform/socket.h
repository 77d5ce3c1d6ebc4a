// TCP sockets for the network side of the program: a listener, its
// accepted connections, non-blocking reads and writes, and a wait on
// several sockets at once that another thread can cut short.
//
// Results follow the rest of this layer's system calls: 0 or a count for
// success, minus the system's error number (errno) for a failure, so that
// SocketErrorText can say what happened. Every socket is non-blocking: a
// read or write that would wait returns kWouldBlock instead.
//
// Thread safety: a Socket belongs to one thread at a time. SocketWaker's
// Wake may be called from any thread while another waits on it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace platform {

// A read or write that would have to wait.
int SocketWouldBlock();

// Owns one socket descriptor; closes it when it goes.
class Socket {
 public:
  Socket() = default;
  explicit Socket(int descriptor) : descriptor_(descriptor) {}
  ~Socket() { Close(); }
  Socket(Socket&& other) noexcept : descriptor_(other.descriptor_) { other.descriptor_ = -1; }
  Socket& operator=(Socket&& other) noexcept;
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  bool Valid() const { return descriptor_ >= 0; }
  int Descriptor() const { return descriptor_; }
  void Close();

 private:
  int descriptor_ = -1;
};

// Listens for TCP connections on `host` (a numeric IPv4 or IPv6 address or
// a name, e.g. "127.0.0.1", "::1", "0.0.0.0", "localhost") and `port` (0:
// any free port). The first address of the name that can be bound is used.
// A port another socket holds fails with -EADDRINUSE; a name that does not
// resolve with -EADDRNOTAVAIL.
int ListenTcp(const std::string& host, std::uint16_t port, Socket& listener);
// The port and numeric address a bound socket has ("127.0.0.1", "::1").
int LocalAddress(const Socket& socket, std::string& host, std::uint16_t& port);
// Takes one waiting connection (non-blocking, no delay for small writes);
// SocketWouldBlock() when none waits.
int AcceptTcp(const Socket& listener, Socket& connection);
// Connects to host:port, waiting until connected (tests and tools).
int ConnectTcp(const std::string& host, std::uint16_t port, Socket& connection);
// Reads what has arrived, at most `size` bytes: the count, 0 when the peer
// has closed its side, SocketWouldBlock() when nothing waits.
long ReceiveSome(const Socket& socket, char* buffer, std::size_t size);
// Writes what fits now: the count, or SocketWouldBlock(). A peer that went
// away gives -EPIPE or -ECONNRESET, never a signal.
long SendSome(const Socket& socket, const char* data, std::size_t size);
// Ends the writing side, so that the peer reads the end after what was sent.
void ShutdownSending(const Socket& socket);

// The system's text for a failed result ("Address already in use").
std::string SocketErrorText(long result);

// Wakes a thread waiting in WaitSockets.
class SocketWaker {
 public:
  SocketWaker();
  ~SocketWaker();
  SocketWaker(const SocketWaker&) = delete;
  SocketWaker& operator=(const SocketWaker&) = delete;
  bool Valid() const { return descriptor_ >= 0; }
  // Makes the next (or the running) wait return; any thread.
  void Wake();
  // Takes back what Wake gave; the waiting thread, after it woke.
  void Clear();
  int Descriptor() const { return descriptor_; }

 private:
  int descriptor_ = -1;
};

// One socket to wait for: `read` and `write` say for what; after the wait
// `readable` (data, a connection or the peer's end waits), `writable` and
// `failed` (an error or hang-up) tell what happened.
struct SocketWait {
  const Socket* socket = nullptr;
  bool read = false;
  bool write = false;
  bool readable = false;
  bool writable = false;
  bool failed = false;
};

// Waits until one of the sockets is ready, the waker was woken or
// `timeoutMs` passed (-1: no limit). Returns the number of sockets ready
// (0 for a wake or a time-out) or a failure. Interrupted waits count as a
// wake.
int WaitSockets(std::span<SocketWait> sockets, SocketWaker& waker, int timeoutMs);

}  // namespace platform
