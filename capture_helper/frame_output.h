#pragma once

#include <pcap/pcap.h>

#include <cstddef>
#include <cstdint>

// Where the helper puts the frames it reads: a capture-file stream on its
// standard output (StreamWriter), or the shared ring of the session that
// started it (RingWriter). Neither ever waits for the reader while the
// capture runs: a frame that finds no room is dropped and counted.
class FrameOutput {
 public:
  virtual ~FrameOutput() = default;

  // The pcap_handler that takes each frame, and the argument it is given.
  virtual pcap_handler Handler() const = 0;
  virtual u_char* HandlerArgument() = 0;
  // A read of the adapter is over: what it gave may be shown to the
  // reader, without waking it.
  virtual void Publish() {}
  // Hands what waits to the reader now, as far as it takes it. False once
  // the reader is gone.
  virtual bool Flush() = 0;
  // Hands everything over at the end, waiting for the reader up to
  // `waitMs` where that is needed; what it does not take is dropped. False
  // once the reader is gone.
  virtual bool FlushAll(int waitMs) = 0;
  // Bytes gathered since the last Flush.
  virtual std::size_t Pending() const = 0;
  // The last Flush could not hand everything over: the next is worth
  // trying once the output is writable.
  virtual bool Blocked() const = 0;
  // Frames that never reached the reader, since the start.
  virtual std::uint64_t DroppedFrames() const = 0;

 protected:
  FrameOutput() = default;
  FrameOutput(const FrameOutput&) = delete;
  FrameOutput& operator=(const FrameOutput&) = delete;
};
