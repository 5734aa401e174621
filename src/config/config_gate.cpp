#include "config/config_gate.h"

#include <algorithm>
#include <utility>

#include "config/cipher.h"
#include "intake/text.h"
#include "intake/texts.h"

namespace kestrova::config {
namespace {

constexpr int kStatusPane = 1;

bool AllDecimalDigits(const AnsiText& text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

ConfigGate::ConfigGate(ports::Window& window, ProgramState& state, AnsiText configUrl)
    : m_window(window), m_state(state), m_configUrl(std::move(configUrl)) {}

AnsiText ConfigGate::Begin() {
  m_window.SetStatusText(kStatusPane, intake::Texts().downloading);
  return m_configUrl;
}

GateOutcome ConfigGate::Complete(const ByteBuffer& body) {
  if (!m_outcome) m_outcome = Decide(body);
  return *m_outcome;
}

GateOutcome ConfigGate::Decide(const ByteBuffer& body) {
  const auto zero = std::find(body.begin(), body.end(), std::uint8_t{0});
  const AnsiText configText(body.begin(), zero);
  const AnsiText plain = DecipherConfig(configText, m_window.EditText(ports::EditBox::ConfigKey));
  if (plain.empty()) return GateOutcome::Blocked;

  const std::vector<AnsiText> pieces = intake::SplitText(plain, "#");
  // A configuration without a version field cannot be compared, so it is as unusable as one
  // that failed its tag.
  if (pieces.size() < 2) return GateOutcome::Blocked;
  // The room number goes verbatim into the login message; anything but digits there would
  // put protocol items of the server's choosing into it. The empty room number stays allowed.
  if (!AllDecimalDigits(pieces[0])) return GateOutcome::Blocked;

  if (pieces[1] != m_window.EditText(ports::EditBox::OwnVersion)) {
    m_window.ShowMessage(intake::Texts().updateAvailable, intake::Texts().infoCaption);
    return GateOutcome::UpdateOffered;
  }
  m_state.configuredRoomId = pieces[0];
  m_window.SetStatusText(kStatusPane, intake::Texts().initialised);
  m_window.SetButtonEnabled(true);
  return GateOutcome::Ready;
}

ConfigDownload::ConfigDownload(AnsiText url, FetchOptions options, Finished finished)
    : m_thread([url = std::move(url), options = std::move(options),
                finished = std::move(finished)](std::stop_token stop) mutable {
        options.stopToken = stop;
        ByteBuffer body = HttpFetch(options, url);
        if (!stop.stop_requested() && finished) finished(std::move(body));
      }) {}

}  // namespace kestrova::config
