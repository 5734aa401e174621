#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <span>

#include "ports/types.h"

// The few interfaces through which the core reaches the window and the platform. Each is
// implemented by a Qt adapter in app/ and by a fake in the tests. Every call and every callback
// happens on the GUI thread unless a comment says otherwise; the core never owns an adapter.
namespace kestrova::ports {

// 选择框1 and 选择框2.
enum class CheckBox { SoundAlert, AutoOpen };

// The hidden 编辑框1 (configuration key) and 编辑框2 (own version).
enum class EditBox { ConfigKey, OwnVersion };

// The main window's named controls as properties. All texts are code page 936.
class Window {
 public:
  virtual ~Window() = default;

  // 按钮1
  virtual AnsiText ButtonCaption() const = 0;
  virtual void SetButtonCaption(const AnsiText& caption) = 0;
  virtual bool ButtonEnabled() const = 0;
  virtual void SetButtonEnabled(bool enabled) = 0;

  // 状态条1: pane 0 holds "状态:", pane 1 every status message.
  virtual AnsiText StatusText(int pane) const = 0;
  virtual void SetStatusText(int pane, const AnsiText& text) = 0;

  virtual bool IsChecked(CheckBox box) const = 0;
  virtual AnsiText EditText(EditBox box) const = 0;

  // 超级列表框1. InsertRow returns the index the new, empty row received.
  virtual int InsertRow(int index) = 0;
  virtual void SetCell(int row, int column, const AnsiText& text) = 0;
  virtual AnsiText CellText(int row, int column) const = 0;
  virtual int RowCount() const = 0;
  // -1 when no row is selected.
  virtual int SelectedRow() const = 0;

  // An information box with an OK button only. It may return before the user has answered.
  virtual void ShowMessage(const AnsiText& text, const AnsiText& caption) = 0;
};

// Receives the events of a TcpClient. Set once, before the first connect.
class TcpEvents {
 public:
  // The connection is up; sends made while connecting have been handed to it in order.
  virtual void OnConnected() = 0;
  // Everything that was readable at one moment, with no framing of the client's own: a block
  // may hold several frames, or only part of one.
  virtual void OnData(std::span<const std::uint8_t> block) = 0;
  // The connect failed, or the open connection was closed by the peer or broke. Not raised for
  // a Disconnect() or Connect() the core asked for itself.
  virtual void OnClosed() = 0;

 protected:
  ~TcpEvents() = default;
};

// 客户1: a stream client whose connect never blocks the window.
class TcpClient {
 public:
  virtual ~TcpClient() = default;
  virtual void SetEvents(TcpEvents* events) = 0;
  // Closes any previous connection (nothing more is sent on it) and starts a new one. Sends
  // made before it is up are kept and written in order once it is. False only when the attempt
  // could not even start (for example an empty host); OnClosed follows a later failure.
  virtual bool Connect(const AnsiText& host, std::uint16_t port) = 0;
  // False when there is no connection or connection attempt to write to.
  virtual bool Send(std::span<const std::uint8_t> bytes) = 0;
  // Harmless when there is no connection. Raises no event.
  virtual void Disconnect() = 0;
};

// 时钟1 and the other window timers.
class Timer {
 public:
  virtual ~Timer() = default;
  // 0 stops the timer. Setting the period it already has changes nothing, so a running timer
  // keeps its phase; another positive value restarts it with that period.
  virtual void SetPeriod(int milliseconds) = 0;
  virtual int Period() const = 0;
  virtual void SetTick(std::function<void()> tick) = 0;
};

// Plays a wave image held in memory, once, without waiting; overlapping calls overlap.
// The bytes must stay valid for the life of the program (the carried alert sound does).
class SoundPlayer {
 public:
  virtual ~SoundPlayer() = default;
  virtual void Play(std::span<const std::uint8_t> wave) = 0;
};

// Opens a web address in the user's browser, without waiting. Never through a shell.
class UrlOpener {
 public:
  virtual ~UrlOpener() = default;
  virtual void Open(const AnsiText& url) = 0;
};

// The wall clock. Local time is derived from it through the process's time zone.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual std::chrono::system_clock::time_point Now() const = 0;
};

class SystemClock final : public Clock {
 public:
  std::chrono::system_clock::time_point Now() const override {
    return std::chrono::system_clock::now();
  }
};

}  // namespace kestrova::ports
