// End to end on loopback: from the server's write of a gift-box rocket to the row inserted in
// a (fake) window, through a real socket, the link's splitter and the rows, with 2000 messages
// per second of background traffic. Bounded: a few seconds of traffic.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "barrage/barrage_link.h"
#include "barrage/frame_codec.h"
#include "intake/rocket_rows.h"
#include "intake/texts.h"

#include "../tests/fakes/fakes.h"
#include "../tools/barrage_server/stream_generator.cpp"

namespace {

using namespace kestrova;
using Clock = std::chrono::steady_clock;

constexpr int kBackgroundPerSecond = 2000;
constexpr int kRocketsPerSecond = 50;
constexpr int kSeconds = 4;

void BM_WriteToRowLatency(benchmark::State& state) {
  for (auto _ : state) {
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener, 1);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);

    const int totalRockets = kRocketsPerSecond * kSeconds;
    std::vector<Clock::time_point> written(static_cast<std::size_t>(totalRockets));
    std::atomic<int> writtenCount{0};
    std::thread server([&] {
      const int peer = ::accept(listener, nullptr, nullptr);
      int one = 1;
      ::setsockopt(peer, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
      tools::StreamGenerator generator(7);
      const auto start = Clock::now();
      int background = 0;
      for (int rocket = 0; rocket < totalRockets;) {
        const auto elapsed = Clock::now() - start;
        const auto dueBackground =
            std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count() *
            kBackgroundPerSecond / 1000000;
        ByteBuffer out;
        for (; background < dueBackground; ++background) {
          const ByteBuffer frame = tools::ServerFrame(generator.Noise(1500000000).body);
          out.insert(out.end(), frame.begin(), frame.end());
        }
        if (!out.empty()) ::send(peer, out.data(), out.size(), MSG_NOSIGNAL);
        const auto dueRockets = std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count() *
                                kRocketsPerSecond / 1000000;
        if (rocket < dueRockets) {
          const ByteBuffer frame = tools::ServerFrame(
              "type@=spbc/sn@=r" + std::to_string(rocket) +
              "/dn@=B/gn@=C/gc@=1/drid@=123456/gs@=6/gb@=1/es@=1/bid@=1_1500000000_2/");
          written[static_cast<std::size_t>(rocket)] = Clock::now();
          writtenCount.store(rocket + 1, std::memory_order_release);
          ::send(peer, frame.data(), frame.size(), MSG_NOSIGNAL);
          ++rocket;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
      ::shutdown(peer, SHUT_WR);
      ::close(peer);
    });

    fakes::FakeWindow window;
    window.caption = intake::Texts().stopCaption;
    fakes::FakeTcpClient client;
    fakes::FakeTimer keepAlive;
    fakes::FakeTimer retry;
    fakes::FakeClock clock;
    fakes::FakeSoundPlayer sound;
    fakes::FakeUrlOpener opener;
    ProgramState programState;
    intake::RocketRows rows(window, sound, opener, programState, clock,
                            intake::ClockStyle::TwentyFourHour);
    std::vector<double> latencies;
    barrage::BarrageLink link({.host = "127.0.0.1"}, window, client, keepAlive, retry, clock,
                              programState, [&](std::span<const std::uint8_t> frame) {
                                if (rows.OnBarrageFrame(frame)) {
                                  const auto now = Clock::now();
                                  const int index = std::stoi(window.rows[0][1].substr(1));
                                  while (writtenCount.load(std::memory_order_acquire) <= index) {
                                  }
                                  latencies.push_back(std::chrono::duration<double, std::milli>(
                                                          now - written[static_cast<std::size_t>(index)])
                                                          .count());
                                }
                              });
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    std::vector<std::uint8_t> buffer(65536);
    for (;;) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 10000) <= 0) break;
      const ssize_t got = ::recv(fd, buffer.data(), buffer.size(), 0);
      if (got <= 0) break;
      // The reader runs as the GUI thread would: everything readable is one block.
      link.OnData(std::span<const std::uint8_t>(buffer.data(), static_cast<std::size_t>(got)));
    }
    server.join();
    ::close(fd);
    ::close(listener);

    std::sort(latencies.begin(), latencies.end());
    auto at = [&](double q) {
      return latencies.empty() ? -1.0
                               : latencies[std::min(latencies.size() - 1,
                                                    static_cast<std::size_t>(q * static_cast<double>(latencies.size())))];
    };
    state.counters["rows"] = static_cast<double>(latencies.size());
    state.counters["p50_ms"] = at(0.50);
    state.counters["p99_ms"] = at(0.99);
    state.counters["max_ms"] = latencies.empty() ? -1.0 : latencies.back();
  }
}
BENCHMARK(BM_WriteToRowLatency)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
