#include "app/qt_timer.h"

namespace kestrova::app {

QtTimer::QtTimer(QObject* parent) : QObject(parent) {
  // The keep-alive and the back-off are seconds long; a precise timer keeps the 45 s period
  // from drifting by the coarse timer's 5 %.
  m_timer.setTimerType(Qt::PreciseTimer);
  connect(&m_timer, &QTimer::timeout, this, [this] {
    if (m_tick) m_tick();
  });
}

void QtTimer::SetPeriod(int milliseconds) {
  if (milliseconds < 0) milliseconds = 0;
  if (milliseconds == m_period) return;
  m_period = milliseconds;
  if (milliseconds == 0) {
    m_timer.stop();
  } else {
    m_timer.start(milliseconds);
  }
}

int QtTimer::Period() const { return m_period; }

void QtTimer::SetTick(std::function<void()> tick) { m_tick = std::move(tick); }

}  // namespace kestrova::app
