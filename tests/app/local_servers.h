#pragma once

#include <QStringList>

#include "support/tool_process.h"

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
