#pragma once

#include <functional>
#include <optional>
#include <thread>

#include "config/http_fetch.h"
#include "ports/ports.h"
#include "ports/program_state.h"
#include "ports/types.h"

// The configuration gate: downloads the configuration once per start, and only when it names
// this program's version does it store the room number and enable 按钮1.
//
// The download must not block the window, so the gate is split in two halves that run on the
// GUI thread, with the request itself in between on a thread of its own:
//
//   // GUI thread, in the window's created handler:
//   const AnsiText url = gate.Begin();                 // shows the downloading text
//   download = std::make_unique<config::ConfigDownload>(url, config::FetchOptions{},
//       [receiver, &gate](ByteBuffer body) {           // runs on the download thread
//         QMetaObject::invokeMethod(receiver, [&gate, body = std::move(body)] {
//           gate.Complete(body);                       // back on the GUI thread
//         }, Qt::QueuedConnection);
//       });
//   // When the window closes, before the window and the gate go away:
//   download.reset();                                  // cancels the request and joins at once
//
// `receiver` is a QObject that lives no longer than the gate (the window itself): a call
// posted to it is dropped when it is destroyed, so nothing touches a closed window.
namespace kestrova::config {

enum class GateOutcome {
  Ready,          // room number stored, "初始化成功" shown, 按钮1 enabled
  Blocked,        // nothing changed after the downloading text; no message
  UpdateOffered,  // the update message was shown; otherwise as Blocked
};

// GUI thread only. Holds references to the window and the program state, which must outlive it.
class ConfigGate {
 public:
  ConfigGate(ports::Window& window, ProgramState& state, AnsiText configUrl);

  // Shows the downloading text on status pane 1 and returns the URL to fetch with HttpFetch
  // and every optional parameter omitted.
  AnsiText Begin();

  // Applies the downloaded body (empty when the download failed). The gate decides once: a
  // second call changes nothing and returns the first outcome.
  GateOutcome Complete(const ByteBuffer& body);

  std::optional<GateOutcome> Outcome() const { return m_outcome; }

 private:
  GateOutcome Decide(const ByteBuffer& body);

  ports::Window& m_window;
  ProgramState& m_state;
  AnsiText m_configUrl;
  std::optional<GateOutcome> m_outcome;
};

// One configuration download on a thread of its own, started by the constructor.
// `finished` runs on that thread, at most once, with the body (empty on failure); it is not
// called for a download whose cancel was seen before the request ended. Destroying the object
// cancels a running request and waits for the thread (and for a `finished` already running),
// which takes a moment only: curl is woken at once.
class ConfigDownload {
 public:
  using Finished = std::function<void(ByteBuffer body)>;

  ConfigDownload(AnsiText url, FetchOptions options, Finished finished);
  ~ConfigDownload() = default;  // std::jthread requests stop and joins
  ConfigDownload(const ConfigDownload&) = delete;
  ConfigDownload& operator=(const ConfigDownload&) = delete;

  // Any thread. The request ends promptly and `finished` is not called.
  void Cancel() { m_thread.request_stop(); }

 private:
  std::jthread m_thread;
};

}  // namespace kestrova::config
