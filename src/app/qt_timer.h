#pragma once

#include <QObject>
#include <QTimer>

#include "ports/ports.h"

namespace kestrova::app {

// 时钟1 and the link's other timers over QTimer. Setting the period it already has leaves the
// running QTimer alone, so its phase is kept. GUI thread only.
class QtTimer final : public QObject, public ports::Timer {
  Q_OBJECT

 public:
  explicit QtTimer(QObject* parent = nullptr);

  void SetPeriod(int milliseconds) override;
  int Period() const override;
  void SetTick(std::function<void()> tick) override;

 private:
  QTimer m_timer;
  int m_period = 0;
  std::function<void()> m_tick;
};

}  // namespace kestrova::app
