#pragma once

// Header-only fakes of the ports, shared by every test folder. Each is a plain record of what
// the core did to it, plus a few calls through which a test plays the other side.

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "ports/ports.h"
#include "ports/types.h"

namespace kestrova::fakes {

// The main window as a table of named controls.
class FakeWindow : public ports::Window {
 public:
  AnsiText caption;
  bool buttonEnabled = false;
  std::map<int, AnsiText> status;
  std::map<ports::CheckBox, bool> checks;
  std::map<ports::EditBox, AnsiText> edits;
  // rows[0] is the top row; each row holds as many cells as were set.
  std::vector<std::vector<AnsiText>> rows;
  int selectedRow = -1;
  struct Message {
    AnsiText text;
    AnsiText caption;
  };
  std::vector<Message> messages;
  // Called after every InsertRow, for tests that time or count insertions.
  std::function<void(int)> onInsertRow;

  AnsiText ButtonCaption() const override { return caption; }
  void SetButtonCaption(const AnsiText& text) override { caption = text; }
  bool ButtonEnabled() const override { return buttonEnabled; }
  void SetButtonEnabled(bool enabled) override { buttonEnabled = enabled; }
  AnsiText StatusText(int pane) const override {
    const auto it = status.find(pane);
    return it == status.end() ? AnsiText() : it->second;
  }
  void SetStatusText(int pane, const AnsiText& text) override { status[pane] = text; }
  bool IsChecked(ports::CheckBox box) const override {
    const auto it = checks.find(box);
    return it != checks.end() && it->second;
  }
  AnsiText EditText(ports::EditBox box) const override {
    const auto it = edits.find(box);
    return it == edits.end() ? AnsiText() : it->second;
  }
  int InsertRow(int index) override {
    const auto at = std::min<std::size_t>(static_cast<std::size_t>(std::max(index, 0)), rows.size());
    rows.insert(rows.begin() + static_cast<std::ptrdiff_t>(at), std::vector<AnsiText>());
    if (onInsertRow) {
      onInsertRow(static_cast<int>(at));
    }
    return static_cast<int>(at);
  }
  void SetCell(int row, int column, const AnsiText& text) override {
    auto& cells = rows.at(static_cast<std::size_t>(row));
    if (cells.size() <= static_cast<std::size_t>(column)) {
      cells.resize(static_cast<std::size_t>(column) + 1);
    }
    cells[static_cast<std::size_t>(column)] = text;
  }
  AnsiText CellText(int row, int column) const override {
    if (row < 0 || static_cast<std::size_t>(row) >= rows.size()) {
      return {};
    }
    const auto& cells = rows[static_cast<std::size_t>(row)];
    return static_cast<std::size_t>(column) < cells.size() ? cells[static_cast<std::size_t>(column)]
                                                           : AnsiText();
  }
  int RowCount() const override { return static_cast<int>(rows.size()); }
  int SelectedRow() const override { return selectedRow; }
  void ShowMessage(const AnsiText& text, const AnsiText& boxCaption) override {
    messages.push_back({text, boxCaption});
  }
};

// A stream client whose other side is the test. Connect only starts an attempt; the test
// decides with Accept(), Refuse() or ServerCloses().
class FakeTcpClient : public ports::TcpClient {
 public:
  enum class State { None, Connecting, Connected, Closed };

  struct ConnectCall {
    AnsiText host;
    std::uint16_t port;
  };

  State state = State::None;
  // What Connect returns; false plays "the attempt could not even start".
  bool connectStarts = true;
  std::vector<ConnectCall> connects;
  int disconnects = 0;
  // Everything sent, one entry per Send call, with the connection number it went to
  // (1 for the first Connect). Sends without a connection are recorded with accepted false.
  struct SentFrame {
    ByteBuffer bytes;
    int connection;
    bool accepted;
  };
  std::vector<SentFrame> sent;

  void SetEvents(ports::TcpEvents* e) override { events = e; }
  bool Connect(const AnsiText& host, std::uint16_t port) override {
    connects.push_back({host, port});
    state = connectStarts ? State::Connecting : State::None;
    return connectStarts;
  }
  bool Send(std::span<const std::uint8_t> bytes) override {
    const bool ok = state == State::Connecting || state == State::Connected;
    sent.push_back({ByteBuffer(bytes.begin(), bytes.end()), static_cast<int>(connects.size()), ok});
    return ok;
  }
  void Disconnect() override {
    ++disconnects;
    state = State::None;
  }

  // The other side.
  void Accept() {
    state = State::Connected;
    if (events) events->OnConnected();
  }
  void Refuse() {
    state = State::Closed;
    if (events) events->OnClosed();
  }
  void ServerCloses() { Refuse(); }
  void Push(std::span<const std::uint8_t> block) {
    if (events) events->OnData(block);
  }
  void Push(const std::string& block) {
    Push(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(block.data()),
                                       block.size()));
  }

  // The bodies of the accepted frames, as text (header and end mark removed).
  std::vector<std::string> SentBodies(bool acceptedOnly = true) const {
    std::vector<std::string> bodies;
    for (const auto& frame : sent) {
      if ((frame.accepted || !acceptedOnly) && frame.bytes.size() >= 13) {
        bodies.emplace_back(frame.bytes.begin() + 12, frame.bytes.end() - 1);
      }
    }
    return bodies;
  }

  ports::TcpEvents* events = nullptr;
};

// A timer that fires only when the test says so; it keeps the port's rule that setting the
// period it already has keeps the phase, and counts the restarts that another value causes.
class FakeTimer : public ports::Timer {
 public:
  int period = 0;
  int restarts = 0;
  std::vector<int> periodsSet;
  std::function<void()> tick;

  void SetPeriod(int milliseconds) override {
    periodsSet.push_back(milliseconds);
    if (milliseconds != period && milliseconds > 0) {
      ++restarts;
    }
    period = milliseconds;
  }
  int Period() const override { return period; }
  void SetTick(std::function<void()> callback) override { tick = std::move(callback); }

  // Fires once if running; true when it did.
  bool Fire() {
    if (period <= 0 || !tick) {
      return false;
    }
    auto callback = tick;  // the tick may replace itself
    callback();
    return true;
  }
};

class FakeSoundPlayer : public ports::SoundPlayer {
 public:
  std::vector<std::span<const std::uint8_t>> played;
  void Play(std::span<const std::uint8_t> wave) override { played.push_back(wave); }
};

class FakeUrlOpener : public ports::UrlOpener {
 public:
  std::vector<AnsiText> opened;
  void Open(const AnsiText& url) override { opened.push_back(url); }
};

class FakeClock : public ports::Clock {
 public:
  std::chrono::system_clock::time_point now{std::chrono::seconds(1500000000)};
  std::chrono::system_clock::time_point Now() const override { return now; }
  void SetUnixSeconds(std::int64_t seconds) {
    now = std::chrono::system_clock::time_point(std::chrono::seconds(seconds));
  }
  void Advance(std::chrono::milliseconds by) { now += by; }
};

}  // namespace kestrova::fakes
