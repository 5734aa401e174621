#pragma once

#include <atomic>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "ports/ports.h"

namespace kestrova::app {

// The PCM layout read from a RIFF/WAVE image; `data` points into the image.
struct WaveView {
  int channels = 0;
  int sampleRate = 0;
  int bitsPerSample = 0;
  std::span<const std::uint8_t> data;
};

// The "fmt " and "data" chunks of a PCM wave, or nothing when the image is not one we can play
// (truncated, another encoding, chunks running past the end).
std::optional<WaveView> ReadWave(std::span<const std::uint8_t> wave);

// Plays each wave once on a detached thread of its own over ALSA, so the window never waits and
// alerts overlap. A missing or busy sound device only means silence: nothing is shown, nothing
// else changes. The device name is ALSA's ("default"; "null" is a device-free sink for tests).
class AlsaSoundPlayer final : public ports::SoundPlayer {
 public:
  explicit AlsaSoundPlayer(std::string device = "default");

  void Play(std::span<const std::uint8_t> wave) override;

  // Playbacks still running; for tests and for the cap below.
  int ActivePlaybacks() const;

  // A burst of rockets must not start an unbounded number of threads: beyond this many
  // overlapping alerts, further ones are skipped until one has finished.
  static constexpr int kMaxConcurrentPlaybacks = 8;

 private:
  struct Shared {
    std::string device;
    std::atomic<int> active{0};
  };
  // Shared with the playback threads, which may outlive this object at exit.
  std::shared_ptr<Shared> m_shared;
};

}  // namespace kestrova::app
