#pragma once

#include <QProcess>
#include <QStringList>
#include <QTest>

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

  QStringList LinesStartingWith(const QString& prefix) {
    QStringList matching;
    for (const QString& line : Lines()) {
      if (line.startsWith(prefix)) matching.append(line);
    }
    return matching;
  }

  bool WaitForLine(const QString& prefix, int timeoutMs = 10000) {
    return QTest::qWaitFor([&] { return !LinesStartingWith(prefix).isEmpty(); }, timeoutMs);
  }

  bool WaitForExit(int timeoutMs) {
    const bool finished = QTest::qWaitFor([this] { return m_process.state() == QProcess::NotRunning; },
                                          timeoutMs);
    m_output += m_process.readAllStandardOutput();
    return finished;
  }

  // The exit code, or -1 when it crashed or is still running at the deadline.
  int ExitCode(int timeoutMs = 10000) {
    if (!WaitForExit(timeoutMs)) return -1;
    return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1;
  }

  QString Errors() { return QString::fromLocal8Bit(m_process.readAllStandardError()); }

  QProcess& Process() { return m_process; }

 private:
  QProcess m_process;
  QByteArray m_output;
};
