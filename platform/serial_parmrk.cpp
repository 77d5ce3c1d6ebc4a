#include "platform/serial_parmrk.h"

#include <cstring>

namespace platform {

void ParmrkDecoder::Feed(std::span<const BYTE> raw, DecodedInput& out) {
  std::size_t i = 0;
  while (i < raw.size()) {
    if (state_ == State::kPlain) {
      // Runs without an escape are copied whole; only FF starts a sequence.
      const BYTE* run = raw.data() + i;
      const void* ff = std::memchr(run, 0xFF, raw.size() - i);
      const std::size_t length =
          ff ? static_cast<std::size_t>(static_cast<const BYTE*>(ff) - run) : raw.size() - i;
      out.bytes.insert(out.bytes.end(), run, run + length);
      i += length;
      if (i == raw.size()) break;
    }
    const BYTE byte = raw[i++];
    switch (state_) {
      case State::kPlain:
        if (byte == 0xFF) {
          state_ = State::kAfterFF;
        } else {
          out.bytes.push_back(byte);
        }
        break;
      case State::kAfterFF:
        if (byte == 0xFF) {
          out.bytes.push_back(0xFF);
          state_ = State::kPlain;
        } else if (byte == 0x00) {
          state_ = State::kAfterFF00;
        } else {
          // Not a sequence the driver makes (it would need ISTRIP or a
          // changed PARMRK): keep both bytes rather than lose one.
          out.bytes.push_back(0xFF);
          out.bytes.push_back(byte);
          state_ = State::kPlain;
        }
        break;
      case State::kAfterFF00:
        // FF 00 00 is how the driver reports a break; a NUL received with a
        // parity error looks the same, and the back end tells them apart
        // by the driver's counters where it can.
        if (byte == 0x00) {
          ++out.breaks;
        } else {
          out.marked.push_back(out.bytes.size());
          out.bytes.push_back(byte);
        }
        state_ = State::kPlain;
        break;
    }
  }
}

}  // namespace platform
