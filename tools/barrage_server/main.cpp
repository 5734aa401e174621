// kestrova-barrage-server: a local stand-in for the platform's barrage server, for the tests,
// the demo and anyone trying Kestrova offline. See --help.

#include <QCoreApplication>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "barrage/frame_splitter.h"
#include "barrage_server.h"

namespace {

using kestrova::ByteBuffer;
using namespace kestrova::tools;

constexpr const char* kUsage = R"(usage: kestrova-barrage-server [options]

Serves the framed barrage protocol on TCP, or inside binary WebSocket messages with --ws:
answers login with loginres, echoes keeplive and mrkl, and after a join streams chat, gift and
entry messages, noble broadcasts and rocket broadcasts with and without a gift box.

  --listen HOST:PORT      address to listen on (default 127.0.0.1:8601; port 0 = any free one)
  --ws                    serve ws:// instead of plain TCP; each piece of --delivery is one
                          binary message
  --tls-cert FILE         with --ws and --tls-key: serve wss:// with this PEM certificate chain
  --tls-key FILE          with --ws and --tls-cert: the certificate's PEM key, not encrypted
  --noise-rate N          chatmsg/dgb/uenter messages per second (default 200)
  --rocket-rate N         spbc rocket broadcasts per second (default 1)
  --giftbox-share F       share of rockets that carry a gift box, 0..1 (default 0.5)
  --broadcast-rate N      anbc/rnewbc broadcasts per second (default 0.2)
  --seed N                seed of the stream and of the delivery cuts (default 1)
  --delivery MODE         whole | split | batch (default whole)
  --replay FILE           after a join, send the frames recorded in FILE (frames back to back)
  --duration SECONDS      quit after this long (default: run until killed)
  --rockets N             stop streaming after N gift-box rockets in all, quit after --linger
  --linger SECONDS        time between the --rockets bound and quitting (default 3)
  --drop-after N          close each connection after it was sent N gift-box rockets
  --silent-after N        stop sending anything on a connection after N gift-box rockets
  --start-time UNIX       gift times count from this Unix second (default: the real clock)
  --generate FILE         no network: write the stream to FILE and quit; needs --rockets or
                          --messages; gift times start at --start-time (default 1500000000)
  --messages N            with --generate: the number of messages

Output, one line each, flushed: "listening HOST:PORT" first; "client ID connected|closed";
"recv ID TYPE BODY" for every client message; "rocket<TAB>ID<TAB>sn<TAB>dn<TAB>gn<TAB>gc<TAB>
drid<TAB>time" for every gift-box rocket sent (texts as the client shows them); "done ...",
"drop ID", "silent ID", "exit ...".
)";

[[noreturn]] void Fail(const std::string& message) {
  std::fprintf(stderr, "kestrova-barrage-server: %s\n%s", message.c_str(), kUsage);
  std::exit(2);
}

double Number(std::string_view option, const char* text) {
  char* end = nullptr;
  errno = 0;
  const double value = std::strtod(text, &end);
  if (errno != 0 || end == text || *end != '\0' || !(value >= 0.0)) {
    Fail("bad value for " + std::string(option) + ": " + text);
  }
  return value;
}

std::int64_t Whole(std::string_view option, const char* text) {
  char* end = nullptr;
  errno = 0;
  const long long value = std::strtoll(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || value < 0) {
    Fail("bad value for " + std::string(option) + ": " + text);
  }
  return value;
}

bool ReadFile(const std::string& path, ByteBuffer& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    return false;
  }
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

int Generate(const ServerOptions& options, const std::string& path, std::int64_t messages) {
  if (options.rocketBound <= 0 && messages <= 0) {
    Fail("--generate needs --rockets or --messages");
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) {
    Fail("cannot write " + path);
  }
  StreamGenerator generator(options.seed);
  const StreamRates& rates = options.rates;
  const double total = rates.noisePerSecond + rates.rocketsPerSecond + rates.broadcastsPerSecond;
  const std::int64_t start = options.startTime > 0 ? options.startTime : 1500000000;
  std::int64_t rockets = 0;
  std::int64_t written = 0;
  while ((messages <= 0 || written < messages) &&
         (options.rocketBound <= 0 || rockets < options.rocketBound)) {
    const auto now =
        start + static_cast<std::int64_t>(total > 0 ? static_cast<double>(written) / total : 0.0);
    const GeneratedMessage message = generator.Next(now, rates);
    const ByteBuffer frame = ServerFrame(message.body);
    out.write(reinterpret_cast<const char*>(frame.data()), static_cast<std::streamsize>(frame.size()));
    ++written;
    if (message.giftBoxRocket) {
      ++rockets;
      LogLine(RocketLine(0, *message.giftBoxRocket));
    }
  }
  out.close();
  if (!out) {
    Fail("cannot write " + path);
  }
  std::fprintf(stderr, "generated %lld messages, %lld gift-box rockets\n",
               static_cast<long long>(written), static_cast<long long>(rockets));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  ServerOptions options;
  std::string generatePath;
  std::int64_t messages = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string_view option = argv[i];
    if (option == "--help" || option == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (option == "--ws") {
      if (!WebSocketModeAvailable()) {
        Fail("--ws: this build has no WebSocket mode (it comes with the program's build)");
      }
      options.webSocket = true;
      continue;
    }
    if (i + 1 >= argc) {
      Fail("missing value for " + std::string(option));
    }
    const char* value = argv[++i];
    if (option == "--listen") {
      const std::string text = value;
      const auto colon = text.rfind(':');
      if (colon == std::string::npos) {
        Fail("--listen takes HOST:PORT");
      }
      if (!options.address.setAddress(QString::fromStdString(text.substr(0, colon)))) {
        Fail("--listen: not an address: " + text.substr(0, colon));
      }
      const std::int64_t port = Whole(option, text.c_str() + colon + 1);
      if (port > 65535) {
        Fail("--listen: bad port");
      }
      options.port = static_cast<quint16>(port);
    } else if (option == "--tls-cert") {
      options.tlsCertificateFile = QString::fromLocal8Bit(value);
    } else if (option == "--tls-key") {
      options.tlsKeyFile = QString::fromLocal8Bit(value);
    } else if (option == "--noise-rate") {
      options.rates.noisePerSecond = Number(option, value);
    } else if (option == "--rocket-rate") {
      options.rates.rocketsPerSecond = Number(option, value);
    } else if (option == "--giftbox-share") {
      options.rates.giftBoxShare = Number(option, value);
    } else if (option == "--broadcast-rate") {
      options.rates.broadcastsPerSecond = Number(option, value);
    } else if (option == "--seed") {
      options.seed = static_cast<std::uint64_t>(Whole(option, value));
    } else if (option == "--delivery") {
      if (!ParseDeliveryMode(value, options.delivery)) {
        Fail(std::string("--delivery takes whole, split or batch, not ") + value);
      }
    } else if (option == "--replay") {
      ByteBuffer bytes;
      if (!ReadFile(value, bytes)) {
        Fail(std::string("cannot read ") + value);
      }
      std::vector<ByteBuffer> frames;
      kestrova::barrage::FrameSplitter splitter;
      splitter.Feed(bytes, [&](std::span<const std::uint8_t> frame) {
        frames.emplace_back(frame.begin(), frame.end());
      });
      options.replay = std::move(frames);
    } else if (option == "--duration") {
      options.durationSeconds = Number(option, value);
    } else if (option == "--rockets") {
      options.rocketBound = Whole(option, value);
    } else if (option == "--linger") {
      options.lingerSeconds = Number(option, value);
    } else if (option == "--drop-after") {
      options.dropAfter = Whole(option, value);
    } else if (option == "--silent-after") {
      options.silentAfter = Whole(option, value);
    } else if (option == "--start-time") {
      options.startTime = Whole(option, value);
    } else if (option == "--generate") {
      generatePath = value;
    } else if (option == "--messages") {
      messages = Whole(option, value);
    } else {
      Fail("unknown option " + std::string(option));
    }
  }
  const bool secure = !options.tlsCertificateFile.isEmpty() || !options.tlsKeyFile.isEmpty();
  if (secure && !options.webSocket) {
    Fail("--tls-cert and --tls-key need --ws");
  }
  if (secure && (options.tlsCertificateFile.isEmpty() || options.tlsKeyFile.isEmpty())) {
    Fail("--tls-cert and --tls-key go together");
  }
  if (!generatePath.empty()) {
    return Generate(options, generatePath, messages);
  }
  QCoreApplication app(argc, argv);
  BarrageServer server(options);
  if (!server.Start()) {
    return 1;
  }
  return QCoreApplication::exec();
}
