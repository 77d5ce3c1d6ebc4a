// Decoding of the tty driver's marked input (termios INPCK | PARMRK, no
// ISTRIP): a received 0xFF arrives as FF FF, a character received with a
// parity or framing error c as FF 00 c, and a break as FF 00 00.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "platform/win_types.h"

namespace platform {

struct DecodedInput {
  std::vector<BYTE> bytes;           // the characters, unescaped
  std::vector<std::size_t> marked;   // positions in `bytes` received with an error
  unsigned breaks = 0;               // breaks seen (they add no character)

  void Clear() {
    bytes.clear();
    marked.clear();
    breaks = 0;
  }
};

// Keeps the state of a sequence cut between two reads.
//
// Thread safety: one decoder belongs to one reading thread.
class ParmrkDecoder {
 public:
  // Appends the decoded form of `raw` to `out`.
  void Feed(std::span<const BYTE> raw, DecodedInput& out);
  // Forgets a partly received sequence (after the input was purged).
  void Reset() { state_ = State::kPlain; }
  // No sequence is cut: input without 0xFF needs no decoding.
  bool Plain() const { return state_ == State::kPlain; }

 private:
  enum class State { kPlain, kAfterFF, kAfterFF00 };
  State state_ = State::kPlain;
};

}  // namespace platform
