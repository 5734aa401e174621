// kestrova-scan: runs the window's intake path (frame splitter, broadcast recognition, the
// eight cell texts) over a raw barrage stream and prints one line per gift-box rocket, cells
// separated by tabs, in UTF-8, oldest first. See --help.

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "barrage/frame_splitter.h"
#include "intake/broadcast.h"
#include "intake/rocket_rows.h"
#include "intake/text.h"
#include "intake/time_convert.h"

namespace {

using namespace kestrova;

constexpr const char* kUsage = R"(usage: kestrova-scan [options] [FILE|-]

Reads a raw barrage byte stream (frames back to back, as the server sends them) from FILE or
standard input and prints one line per gift-box rocket: the eight list cells, tab-separated,
UTF-8, oldest first. Times are UTC+8; the 12/24-hour clock comes from the LC_TIME locale.

  --chunk N           read at most N bytes at a time (default 65536)
  --random-chunks S   read pieces of random size (1..4096 bytes), seeded with S
  --clock 12|24       override the locale's clock
  --stats             print frames, rockets and dropped bytes to stderr at the end
)";

[[noreturn]] void Fail(const std::string& message) {
  std::fprintf(stderr, "kestrova-scan: %s\n%s", message.c_str(), kUsage);
  std::exit(2);
}

long Positive(const char* option, const char* text) {
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || value <= 0) {
    Fail(std::string("bad value for ") + option + ": " + text);
  }
  return value;
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t chunk = 65536;
  bool randomChunks = false;
  std::mt19937_64 random;
  intake::ClockStyle style = intake::UserClockStyle();
  bool stats = false;
  const char* path = nullptr;
  for (int i = 1; i < argc; ++i) {
    const std::string_view option = argv[i];
    if (option == "--help" || option == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (option == "--stats") {
      stats = true;
      continue;
    }
    if (option == "-" || option.substr(0, 2) != "--") {
      if (path != nullptr) Fail("only one input");
      path = argv[i];
      continue;
    }
    if (i + 1 >= argc) Fail("missing value for " + std::string(option));
    const char* value = argv[++i];
    if (option == "--chunk") {
      chunk = static_cast<std::size_t>(Positive("--chunk", value));
    } else if (option == "--random-chunks") {
      randomChunks = true;
      random.seed(static_cast<std::uint64_t>(Positive("--random-chunks", value)));
    } else if (option == "--clock") {
      if (std::string_view(value) == "12") {
        style = intake::ClockStyle::TwelveHour;
      } else if (std::string_view(value) == "24") {
        style = intake::ClockStyle::TwentyFourHour;
      } else {
        Fail("--clock takes 12 or 24");
      }
    } else {
      Fail("unknown option " + std::string(option));
    }
  }

  int fd = STDIN_FILENO;
  if (path != nullptr && std::string_view(path) != "-") {
    fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      std::fprintf(stderr, "kestrova-scan: cannot open %s: %s\n", path, std::strerror(errno));
      return 1;
    }
  }

  const ports::SystemClock clock;
  barrage::FrameSplitter splitter;
  std::uint64_t frames = 0;
  std::uint64_t rockets = 0;
  std::vector<std::uint8_t> buffer(randomChunks ? 4096 : chunk);
  std::string line;
  for (;;) {
    const std::size_t want = randomChunks ? 1 + random() % buffer.size() : buffer.size();
    const ssize_t got = ::read(fd, buffer.data(), want);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      std::fprintf(stderr, "kestrova-scan: read failed: %s\n", std::strerror(errno));
      return 1;
    }
    if (got == 0) break;
    splitter.Feed(std::span<const std::uint8_t>(buffer.data(), static_cast<std::size_t>(got)),
                  [&](std::span<const std::uint8_t> frame) {
                    ++frames;
                    const auto record = intake::RecognizeBroadcast(frame, clock);
                    if (!record) return;
                    const auto cells = intake::RocketRowCells(*record, style);
                    if (!cells) return;
                    ++rockets;
                    line.clear();
                    for (std::size_t c = 0; c < cells->size(); ++c) {
                      if (c > 0) line += '\t';
                      line += intake::GbkToUtf8((*cells)[c]);
                    }
                    line += '\n';
                    std::fwrite(line.data(), 1, line.size(), stdout);
                  });
  }
  std::fflush(stdout);
  if (stats) {
    std::fprintf(stderr, "frames %llu rockets %llu dropped %llu pending %zu\n",
                 static_cast<unsigned long long>(frames), static_cast<unsigned long long>(rockets),
                 static_cast<unsigned long long>(splitter.DroppedBytes()), splitter.PendingBytes());
  }
  return 0;
}
