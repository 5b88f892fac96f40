// The whole engine, driven through a fake port, window and image file, with
// every event taken from the input.
//
// Input: one byte whose low four bits say which of COM1..COM4 can be opened,
// then events, each a byte (modulo 16, see Event) and its arguments. A message
// box reads one more byte: how many events (0 to 3) happen while it is open,
// as in a real modal loop; those can only be ticks, the device's bytes and
// the port's faults. DestroyMainWindow and Exit end the input.
//
// With TARNWICK_FUZZ_TRACE set in the environment it tells what happens, for
// reading an input the fuzzer kept.
#include <algorithm>
#include <cstdarg>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <new>
#include <optional>
#include <string>

#include "engine_fakes.h"
#include "fuzz_support.h"
#include "host_frame_stream.h"
#include "image_bytes.h"
#include "programmer_state.h"
#include "result_watch.h"
#include "run_machine.h"
#include "served_blocks.h"

namespace {

using namespace tarnwick;
using fuzz::Bytes;
using fuzz::Check;

enum Event : std::uint8_t {
  kTick,             // one timer tick
  kTicks,            // n: n + 1 ticks
  kProgram,          // Program pressed (when enabled)
  kStop,             // Stop pressed (when enabled)
  kRequest,          // seq: the device asks for block seq
  kResult,           // status: the device reports the outcome
  kNoise,            // n, bytes: n % 32 raw bytes from the device
  kLoad,             // 4 bytes: an image loaded, or a load that fails (see Load)
  kWriteLimit,       // n: writes take at most n % 24 bytes; 128 and up: no limit
  kWriteFails,       // the next write finds the port gone
  kPortFails,        // the device behind the open port goes away now
  kPortFailsOnRead,  // ... right after the engine's next read
  kToggleOpenable,   // n: COM(n % 4 + 1) can or can no longer be opened
  kTimerRefuses,     // the next StartTimer fails
  kExit,             // Exit pressed; ends the input
  kFrame,            // command, count, count + 2 body bytes: any device frame
  kEventKinds,
};

constexpr const char* kEventNames[] = {
    "tick", "ticks", "Program", "Stop", "request", "result", "noise", "load", "write limit", "write fails",
    "port fails", "port fails on read", "toggle openable", "timer refuses", "Exit", "frame"};

__attribute__((format(printf, 1, 2))) void Trace(const char* format, ...) {
  static const bool tracing = std::getenv("TARNWICK_FUZZ_TRACE") != nullptr;
  if (!tracing) return;
  va_list arguments;
  va_start(arguments, format);
  std::vfprintf(stderr, format, arguments);
  va_end(arguments);
  std::fputc('\n', stderr);
}

constexpr unsigned kTickLimit = 4000;
constexpr int kMaxBoxDepth = 2;
constexpr std::size_t kNoLimit = SIZE_MAX;

class EngineRun {
 public:
  EngineRun(const std::uint8_t* data, std::size_t size)
      : input_(data, size),
        port_([this](const fuzz::WireFrame& frame) { OnFrame(frame); }),
        engine_(port_, window_, file_) {
    port_.onRead = [this](const std::uint8_t* bytes, std::size_t count) {
      Trace("    the engine read %zu bytes", count);
      for (std::size_t i = 0; i < count; ++i) {
        if (resultWatch_.Feed(bytes[i])) successAllowed_ = true;
      }
    };
    port_.onOpen = [this] {
      Trace("    port opened");
      NewSession();
    };
    port_.onClose = [this] {
      Trace("    port closed");
      NewSession();
    };
    port_.senderHoldsBytes = [this] { return engine_.link().PendingBytes() > 0; };
    window_.onBytesSentShown = [this](std::uint32_t shown) { OnBlockServed(shown); };
    window_.whileBoxOpen = [this](const std::string& text) { OnMessage(text.c_str()); };
  }

  void Run() {
    const std::uint8_t openable = input_.Byte();
    for (std::size_t i = 0; i < port_.openable.size(); ++i) port_.openable[i] = ((openable >> i) & 1) != 0;
    engine_.OnInitDialog();
    while (!input_.Empty() && !Ended()) Step(false);
  }

 private:
  bool Ended() const { return window_.destroyed || exited_; }

  void Step(bool insideBox) {
    auto event = static_cast<Event>(input_.Byte() % kEventKinds);
    // A modal box leaves the operator nothing to press.
    const bool pressed = event == kProgram || event == kStop || event == kLoad || event == kExit;
    if (insideBox && (pressed || event == kTimerRefuses)) event = kTick;
    Trace("%s%s", insideBox ? "  (box) " : "", kEventNames[event]);
    switch (event) {
      case kTick: Ticks(1); break;
      case kTicks: Ticks(input_.Byte() + 1u); break;
      case kProgram:
        if (window_.IsEnabled(IdProgram)) {
          // The engine zeroes its counters and its receive state first thing.
          resultWatch_.Reset();
          successAllowed_ = false;
          loadedSinceProgram_ = false;
          counterBefore_ = 0;
          engine_.OnProgram();
        }
        break;
      case kStop:
        if (window_.IsEnabled(IdStop)) engine_.OnStop();
        break;
      case kRequest: DeviceFrame(0x80, input_.Byte()); break;
      case kResult: DeviceFrame(0x81, input_.Byte()); break;
      case kNoise: port_.Deliver(input_.Take(input_.Byte() % 32u)); break;
      case kLoad: Load(); break;
      case kWriteLimit: {
        const std::uint8_t limit = input_.Byte();
        port_.writeLimit = limit >= 128 ? kNoLimit : limit % 24u;
        break;
      }
      case kWriteFails: port_.failNextWrite = true; break;
      case kPortFails: port_.FailForGood(); break;
      case kPortFailsOnRead: port_.failAfterRead = true; break;
      case kToggleOpenable: {
        const std::size_t index = input_.Byte() % 4u;
        port_.openable[index] = !port_.openable[index];
        break;
      }
      case kTimerRefuses: window_.refuseNextTimer = true; break;
      case kExit:
        engine_.OnExit();
        exited_ = true;
        break;
      case kFrame: {
        Bytes frame{0x33, 0xBB, input_.Byte(), input_.Byte()};
        const Bytes body = input_.Take(frame[3] + 2u);
        frame.insert(frame.end(), body.begin(), body.end());
        port_.Deliver(frame);
        break;
      }
      case kEventKinds: break;
    }
    CheckBetweenEvents();
  }

  void Ticks(unsigned count) {
    for (unsigned i = 0; i < count && !Ended() && window_.timerRunning && ticks_ < kTickLimit; ++i) {
      ++ticks_;
      engine_.OnTimer();
      const ProgrammerState& state = engine_.state();
      Trace("  tick %u: run state %d, connect step %d, block counter %u, bytes sent %u", ticks_, state.runState,
            state.connectStep, state.blockCounter, state.bytesSent);
      CheckBetweenEvents();
    }
  }

  // A request or result frame with count byte 0: the value, then a checksum.
  void DeviceFrame(std::uint8_t command, std::uint8_t value) {
    port_.Deliver({0x33, 0xBB, command, 0x00, value, static_cast<std::uint8_t>(command + value)});
  }

  // Bytes: length low, length high, flags, seed. Flags bit 0 adds 65,536 to
  // the length (a file longer than an image can be); bits 1-3 choose how the
  // load goes (0-2 well, 3 no such file, 4 a folder, 5 no regular file,
  // 6 access denied or another failure, 7 a read error part-way); bits 4-5
  // how much a read hands over at most.
  void Load() {
    const std::size_t low = input_.Byte();
    const std::size_t high = input_.Byte();
    const std::uint8_t flags = input_.Byte();
    const std::uint8_t seed = input_.Byte();
    const std::size_t length = low | high << 8 | static_cast<std::size_t>(flags & 1) << 16;
    const unsigned mode = (flags >> 1) & 7u;
    constexpr std::size_t kChunks[] = {65536, 1, 127, 1000};
    const std::size_t chunk = kChunks[(flags >> 4) & 3];

    ImageOpenStatus status = ImageOpenStatus::Opened;
    if (mode == 3) status = ImageOpenStatus::NotFound;
    if (mode == 4) status = ImageOpenStatus::Folder;
    if (mode == 5) status = ImageOpenStatus::NotRegularFile;
    if (mode == 6) status = (seed & 1) != 0 ? ImageOpenStatus::AccessDenied : ImageOpenStatus::Failed;
    std::optional<std::size_t> failAt;
    if (mode == 7) failAt = seed * 257u % (length + 1);

    Bytes file = fuzz::GeneratedFile(length, seed);
    // The loader stops at 65,536 bytes: a read error past them is never met.
    const bool loads = status == ImageOpenStatus::Opened && !(failAt && *failAt < kMaxImageLength);
    Bytes image;
    if (loads) fuzz::ImageOfFile(file, image);
    file_.Prepare(std::move(file), status, chunk, failAt);

    engine_.OnLoadFileStarted();
    const bool loaded = engine_.LoadFile("IMAGE.UPL");
    Check(loaded == loads, loads ? "a good image file was refused" : "a load that failed was reported as done");
    Check(!file_.IsOpen(), "the image file was left open");
    if (loaded) {
      image_ = std::move(image);
      loadedSinceProgram_ = true;
    }
    const ProgrammerState& state = engine_.state();
    Check(state.imageLength == image_.size(), "the image length is not that of the last good load");
    Check(std::equal(image_.begin(), image_.end(), state.imageData.begin()),
          "the image is not the last good load descrambled");
  }

  // A port opened or closed: frames of the session before can no longer arrive.
  void NewSession() {
    MatchFramesOnLine();
    served_.Clear();
  }

  void OnFrame(const fuzz::WireFrame& frame) {
    Trace("    on the line: frame %02x with %zu data bytes%s", frame.command, frame.data.size(),
          frame.bytes == fuzz::HandshakeBytes() ? " (handshake)" : "");
    if (frame.bytes == fuzz::HandshakeBytes() || frame.data.empty()) return;
    framesOnLine_.push_back(frame);
  }

  // Right after the engine serves a block (and shows the bytes sent): the
  // counters, then the block as the image in force reads it.
  void OnBlockServed(std::uint32_t shown) {
    const ProgrammerState& state = engine_.state();
    Check(shown == state.bytesSent, "the bytes-sent read-out is not the bytes sent");
    Check(state.blockCounter >= 1, "a block was served with the block counter at 0");
    Check(state.imageLength == image_.size(), "the image length changed without a load");
    CheckCounters();

    const std::size_t index = state.blockCounter - 1;
    const std::size_t start = index * 128;
    const std::size_t end = std::min(start + 128, image_.size());
    Trace("    served block %zu, bytes sent %u", index, state.bytesSent);
    served_.Add({static_cast<std::uint32_t>(index),
                 Bytes(image_.begin() + static_cast<std::ptrdiff_t>(start),
                       image_.begin() + static_cast<std::ptrdiff_t>(end)),
                 counterBefore_});
    counterBefore_ = state.blockCounter;
    MatchFramesOnLine();
  }

  void MatchFramesOnLine() {
    for (const auto& frame : framesOnLine_) {
      Check(served_.Match(frame), "a block frame is not the block of the image that its number names");
    }
    framesOnLine_.clear();
  }

  void OnMessage(const char* text) {
    Trace("    message box: \"%s\"", text);
    if (std::strcmp(text, kTextSucceeded) == 0) {
      Check(successAllowed_, "success reported without a whole result frame with status 0");
    }
    // A reported failure ends the run: nothing of it may open a box after it.
    Check(!failureBoxOpen_, "a box opened over the failure box");
    const bool failure = std::strcmp(text, kTextFailed) == 0;
    if (failure) {
      Check(engine_.state().runState == RunIdle, "the run goes on after its failure was reported");
      Check(window_.IsEnabled(IdProgram) && !window_.IsEnabled(IdStop),
            "after a failure Program is not enabled or Stop not disabled");
      Check(port_.IsOpen(), "the port was closed on a failure");
    }
    if (boxDepth_ >= kMaxBoxDepth) return;
    ++boxDepth_;
    const bool outer = failureBoxOpen_;
    failureBoxOpen_ = failure;
    const unsigned events = input_.Byte() % 4u;
    for (unsigned i = 0; i < events && !Ended() && !input_.Empty(); ++i) Step(true);
    failureBoxOpen_ = outer;
    --boxDepth_;
  }

  void CheckBetweenEvents() {
    MatchFramesOnLine();
    if (engine_.lastOutcome() == RunOutcome::Success) {
      Check(successAllowed_, "the run ended in success without a whole result frame with status 0");
    }
    // The link holds nothing back, so every frame it sent stands whole on the line.
    if (port_.IsOpen() && !port_.Failed() && engine_.link().PendingBytes() == 0) {
      Check(!port_.InsideFrame(), "part of a frame was never sent");
    }
    // A load during a run may leave the counters past a shorter image until
    // the next block is served; otherwise they stay in range.
    if (!loadedSinceProgram_) CheckCounters();
  }

  void CheckCounters() const {
    const ProgrammerState& state = engine_.state();
    const std::uint64_t counter = state.blockCounter;
    const std::uint64_t length = state.imageLength;
    Check(state.bytesSent <= length, "more bytes sent than the image holds");
    Check(state.bytesSent == std::min(counter * 128, length), "bytes sent is not min(blocks * 128, image length)");
    Check(counter * 128 <= length + 128, "the block counter is past the block after the image");
  }

  fuzz::InputReader input_;
  fuzz::FuzzPort port_;
  fuzz::FuzzWindow window_;
  fuzz::FuzzImageFile file_;
  ProgrammerEngine engine_;

  Bytes image_;  // the image in force
  fuzz::ServedBlocks served_;
  std::vector<fuzz::WireFrame> framesOnLine_;  // block frames not yet matched
  std::uint32_t counterBefore_ = 0;
  fuzz::ResultWatch resultWatch_;
  bool successAllowed_ = false;  // a result frame with status 0 and its checksum was read since Program
  bool loadedSinceProgram_ = false;
  bool exited_ = false;
  unsigned ticks_ = 0;
  int boxDepth_ = 0;
  bool failureBoxOpen_ = false;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // The engine's record is large: a fresh one per input, made in the same
  // place each time, costs a clear instead of an allocation.
  alignas(EngineRun) static unsigned char storage[sizeof(EngineRun)];
  auto* run = new (storage) EngineRun(data, size);
  run->Run();
  run->~EngineRun();
  return 0;
}
