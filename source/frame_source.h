#pragma once

#include <pcap/pcap.h>

#include <cstdint>

// Takes the frames a source reads, in the order they were read. A frame's
// bytes are the source's: valid only during the call.
class FrameSink {
 public:
  virtual void TakeFrame(const pcap_pkthdr& header, const std::uint8_t* frame) = 0;

 protected:
  ~FrameSink() = default;
};

// Where a capture's frames come from: an adapter, through the capture
// helper (LiveFrameSource), or a capture file (FileFrameSource). The
// capture thread is the only one that reads it: it takes the frames that
// are there, waits when there are none, and ends when the source ended.
// Neither the table, the passes nor the log know which source it is.
class FrameSource {
 public:
  // What ReadFrames returns when the source has ended: the end of a file,
  // a file that could not be read on, or a helper that went away.
  static constexpr int kEnded = -1;

  virtual ~FrameSource() = default;

  // The link type (DLT_...) of every frame the source hands out.
  virtual int LinkType() const = 0;

  // Hands at most `limit` frames that are there now to `sink`, each with
  // its timestamp and lengths, and returns how many; 0 when none is there
  // yet, kEnded when none will ever come again.
  virtual int ReadFrames(FrameSink& sink, int limit) = 0;

  // Sleeps until frames may be there, `wakeFd` is readable, or `timeoutMs`
  // passed, whichever comes first; a source may wake sooner when it has
  // something of its own to do. A file never waits.
  virtual void WaitForFrames(int timeoutMs, int wakeFd) = 0;
};
