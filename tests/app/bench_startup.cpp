// Launch to shown window, with a configuration server that accepts the connection and never
// answers. The program is started with --quit-after 0 and --screenshot: the picture is written
// on the first turn of the event loop after the window is shown, so the time until the file
// exists is the time to a shown window (plus writing a small PNG).
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

// Listens on an ephemeral loopback port and never accepts: the kernel completes the handshake,
// the request waits unanswered for as long as the program runs.
struct SilentServer {
  int fd = -1;
  int port = 0;
  SilentServer() {
    fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(fd, 64);
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
  }
  ~SilentServer() { close(fd); }
};

void BM_LaunchToShownWindow(benchmark::State& state) {
  SilentServer server;
  const std::string shot = "/tmp/kestrova-bench-startup-" + std::to_string(getpid()) + ".png";
  const std::string configUrl = "127.0.0.1:" + std::to_string(server.port) + "/config";
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  for (auto _ : state) {
    unlink(shot.c_str());
    std::vector<std::string> args{KESTROVA_PROGRAM, "--config-url", configUrl,
                                  "--barrage-server", "127.0.0.1:9", "--quit-after", "0",
                                  "--screenshot", shot};
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);

    const auto started = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, KESTROVA_PROGRAM, nullptr, nullptr, argv.data(), environ) != 0) {
      state.SkipWithError("cannot start kestrova");
      return;
    }
    struct stat info {};
    while (stat(shot.c_str(), &info) != 0 || info.st_size == 0) {
      if (std::chrono::steady_clock::now() - started > std::chrono::seconds(20)) break;
      std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    const auto shown = std::chrono::steady_clock::now();
    state.SetIterationTime(std::chrono::duration<double>(shown - started).count());
    int status = 0;
    waitpid(pid, &status, 0);
  }
  unlink(shot.c_str());
}
BENCHMARK(BM_LaunchToShownWindow)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
