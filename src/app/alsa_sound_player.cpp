#include "app/alsa_sound_player.h"

#include <alsa/asoundlib.h>

#include <cstring>
#include <optional>
#include <thread>

namespace kestrova::app {

namespace {

std::uint32_t Le32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::uint16_t Le16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

// ALSA writes its complaints (no card, no such device) to stderr by default; a machine without
// sound is normal for this program, so they are silenced.
void QuietAlsaError(const char*, int, const char*, int, const char*, ...) {}

void PlayOnce(const std::string& device, const WaveView& wave) {
  snd_pcm_t* pcm = nullptr;
  if (snd_pcm_open(&pcm, device.c_str(), SND_PCM_STREAM_PLAYBACK, 0) < 0) return;
  const snd_pcm_format_t format = wave.bitsPerSample == 8 ? SND_PCM_FORMAT_U8 : SND_PCM_FORMAT_S16_LE;
  if (snd_pcm_set_params(pcm, format, SND_PCM_ACCESS_RW_INTERLEAVED,
                         static_cast<unsigned>(wave.channels),
                         static_cast<unsigned>(wave.sampleRate), 1, 500000) < 0) {
    snd_pcm_close(pcm);
    return;
  }
  const std::size_t frameBytes =
      static_cast<std::size_t>(wave.channels) * static_cast<std::size_t>(wave.bitsPerSample / 8);
  const std::uint8_t* cursor = wave.data.data();
  snd_pcm_uframes_t framesLeft = wave.data.size() / frameBytes;
  int recoveries = 0;
  while (framesLeft > 0) {
    const snd_pcm_sframes_t written = snd_pcm_writei(pcm, cursor, framesLeft);
    if (written < 0) {
      // An underrun or a suspend can be recovered a few times; anything else ends the alert.
      if (++recoveries > 4 || snd_pcm_recover(pcm, static_cast<int>(written), 1) < 0) break;
      continue;
    }
    cursor += static_cast<std::size_t>(written) * frameBytes;
    framesLeft -= static_cast<snd_pcm_uframes_t>(written);
  }
  snd_pcm_drain(pcm);
  snd_pcm_close(pcm);
}

}  // namespace

std::optional<WaveView> ReadWave(std::span<const std::uint8_t> wave) {
  if (wave.size() < 12 || std::memcmp(wave.data(), "RIFF", 4) != 0 ||
      std::memcmp(wave.data() + 8, "WAVE", 4) != 0) {
    return std::nullopt;
  }
  WaveView view;
  bool haveFormat = false;
  std::size_t at = 12;
  while (wave.size() - at >= 8) {
    const std::uint8_t* chunk = wave.data() + at;
    const std::uint32_t size = Le32(chunk + 4);
    const std::size_t bodyAt = at + 8;
    if (size > wave.size() - bodyAt) return std::nullopt;
    if (std::memcmp(chunk, "fmt ", 4) == 0) {
      if (size < 16) return std::nullopt;
      const std::uint8_t* body = chunk + 8;
      if (Le16(body) != 1) return std::nullopt;  // PCM only
      view.channels = Le16(body + 2);
      view.sampleRate = static_cast<int>(Le32(body + 4));
      view.bitsPerSample = Le16(body + 14);
      haveFormat = true;
    } else if (std::memcmp(chunk, "data", 4) == 0) {
      if (!haveFormat) return std::nullopt;
      view.data = wave.subspan(bodyAt, size);
      if (view.channels < 1 || view.channels > 8 || view.sampleRate < 1000 ||
          view.sampleRate > 192000 || (view.bitsPerSample != 8 && view.bitsPerSample != 16)) {
        return std::nullopt;
      }
      return view;
    }
    // Chunks are padded to an even length.
    const std::size_t next = bodyAt + size + (size & 1U);
    if (next <= at || next > wave.size()) break;
    at = next;
  }
  return std::nullopt;
}

AlsaSoundPlayer::AlsaSoundPlayer(std::string device) : m_shared(std::make_shared<Shared>()) {
  m_shared->device = std::move(device);
  static const bool quieted = [] {
    snd_lib_error_set_handler(&QuietAlsaError);
    return true;
  }();
  static_cast<void>(quieted);
}

void AlsaSoundPlayer::Play(std::span<const std::uint8_t> wave) {
  const std::optional<WaveView> view = ReadWave(wave);
  if (!view) return;
  if (m_shared->active.fetch_add(1) >= kMaxConcurrentPlaybacks) {
    m_shared->active.fetch_sub(1);
    return;
  }
  try {
    std::thread([shared = m_shared, view = *view] {
      PlayOnce(shared->device, view);
      shared->active.fetch_sub(1);
    }).detach();
  } catch (const std::system_error&) {
    // No thread to spare means no sound for this alert, nothing worse.
    m_shared->active.fetch_sub(1);
  }
}

int AlsaSoundPlayer::ActivePlaybacks() const { return m_shared->active.load(); }

}  // namespace kestrova::app
