#pragma once

#include <QProcess>
#include <QStringList>
#include <QTest>

#include <gtest/gtest.h>

// One of the local peers (or the program itself) as a child process of the test, with its
// standard output collected line by line as it arrives. Ended by its own pid when the test is
// done with it.
class ToolProcess {
 public:
  ToolProcess(const QString& program, const QStringList& arguments) {
    m_process.setProgram(program);
    m_process.setArguments(arguments);
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    QObject::connect(&m_process, &QProcess::readyReadStandardOutput, [this] {
      m_output += m_process.readAllStandardOutput();
    });
    m_process.start();
  }

  ~ToolProcess() {
    if (m_process.state() != QProcess::NotRunning) {
      m_process.kill();
      m_process.waitForFinished(5000);
    }
  }

  ToolProcess(const ToolProcess&) = delete;
  ToolProcess& operator=(const ToolProcess&) = delete;

  QStringList Lines() {
    m_output += m_process.readAllStandardOutput();
    return QString::fromUtf8(m_output).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  }

  // The first line, waited for: the tools print where they listen before anything else.
  QString FirstLine(int timeoutMs = 10000) {
    static_cast<void>(QTest::qWaitFor([this] { return m_output.contains('\n'); }, timeoutMs));
    const QStringList lines = Lines();
    return lines.isEmpty() ? QString() : lines.first();
  }

  bool WaitForLine(const QString& prefix, int timeoutMs = 10000) {
    return QTest::qWaitFor(
        [&] {
          for (const QString& line : Lines()) {
            if (line.startsWith(prefix)) return true;
          }
          return false;
        },
        timeoutMs);
  }

  bool WaitForExit(int timeoutMs) {
    const bool finished = QTest::qWaitFor([this] { return m_process.state() == QProcess::NotRunning; },
                                          timeoutMs);
    m_output += m_process.readAllStandardOutput();
    return finished;
  }

  QProcess& Process() { return m_process; }

 private:
  QProcess m_process;
  QByteArray m_output;
};

// The local configuration server: "127.0.0.1:PORT/config", or empty when it did not start.
struct ConfigServer {
  explicit ConfigServer(QStringList arguments)
      : process(QStringLiteral(KESTROVA_CONFIG_SERVER),
                QStringList{QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"),
                            QStringLiteral("--stop-after"), QStringLiteral("120")} +
                    arguments) {
    const QString port = process.FirstLine();
    if (!port.isEmpty()) url = QStringLiteral("127.0.0.1:") + port.trimmed() + QStringLiteral("/config");
  }
  ToolProcess process;
  QString url;
};

// The local barrage server: "127.0.0.1:PORT", or empty when it did not start.
struct BarrageServer {
  explicit BarrageServer(QStringList arguments)
      : process(QStringLiteral(KESTROVA_BARRAGE_SERVER),
                QStringList{QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"),
                            QStringLiteral("--duration"), QStringLiteral("120")} +
                    arguments) {
    const QString first = process.FirstLine();
    if (first.startsWith(QStringLiteral("listening "))) address = first.mid(10).trimmed();
  }
  // The gift-box rockets it sent, each as its tab-separated fields sn, dn, gn, gc, drid.
  QList<QStringList> RocketsSent() {
    QList<QStringList> rockets;
    for (const QString& line : process.Lines()) {
      const QStringList fields = line.split(QLatin1Char('\t'));
      if (fields.size() >= 8 && fields[0] == QStringLiteral("rocket")) rockets.append(fields.mid(2, 5));
    }
    return rockets;
  }
  ToolProcess process;
  QString address;
};
