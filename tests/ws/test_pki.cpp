#include "test_pki.h"

#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

namespace {

constexpr int kOpensslTimeoutMs = 60000;

// Our own configuration, so that the extensions do not depend on the system's openssl.cnf.
constexpr const char* kConfig = R"(
[req]
distinguished_name = dn
prompt = no
[dn]
CN = Kestrova test
[ca_ext]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[server_ext]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = IP:127.0.0.1, DNS:localhost
authorityKeyIdentifier = keyid
subjectKeyIdentifier = hash
[wrong_name_ext]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = DNS:other.example
authorityKeyIdentifier = keyid
subjectKeyIdentifier = hash
)";

bool RunOpenssl(const QString& dir, const QStringList& arguments, QString* error) {
  QProcess process;
  process.setWorkingDirectory(dir);
  process.setProcessChannelMode(QProcess::MergedChannels);
  process.start(QStringLiteral("openssl"), arguments);
  if (!process.waitForFinished(kOpensslTimeoutMs) || process.exitStatus() != QProcess::NormalExit ||
      process.exitCode() != 0) {
    *error = QStringLiteral("openssl ") + arguments.join(QLatin1Char(' ')) + QStringLiteral(": ") +
             QString::fromLocal8Bit(process.readAll()) + process.errorString();
    return false;
  }
  return true;
}

QStringList EcKey() {
  return {QStringLiteral("-newkey"), QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
          QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes")};
}

bool MakeCa(const QString& dir, const QString& name, QString* error) {
  return RunOpenssl(dir,
                    QStringList{QStringLiteral("req"), QStringLiteral("-x509"),
                                QStringLiteral("-config"), QStringLiteral("pki.cnf"),
                                QStringLiteral("-extensions"), QStringLiteral("ca_ext")} +
                        EcKey() +
                        QStringList{QStringLiteral("-keyout"), name + QStringLiteral(".key"),
                                    QStringLiteral("-out"), name + QStringLiteral(".pem"),
                                    QStringLiteral("-days"), QStringLiteral("7"),
                                    QStringLiteral("-subj"), QStringLiteral("/CN=") + name},
                    error);
}

bool MakeServer(const QString& dir, const QString& name, const QString& extensions,
                QString* error) {
  return RunOpenssl(dir,
                    QStringList{QStringLiteral("req"), QStringLiteral("-new"),
                                QStringLiteral("-config"), QStringLiteral("pki.cnf")} +
                        EcKey() +
                        QStringList{QStringLiteral("-keyout"), name + QStringLiteral(".key"),
                                    QStringLiteral("-out"), name + QStringLiteral(".csr"),
                                    QStringLiteral("-subj"), QStringLiteral("/CN=") + name},
                    error) &&
         RunOpenssl(
             dir,
             {QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"),
              name + QStringLiteral(".csr"), QStringLiteral("-CA"), QStringLiteral("ca.pem"),
              QStringLiteral("-CAkey"), QStringLiteral("ca.key"), QStringLiteral("-set_serial"),
              QStringLiteral("2"), QStringLiteral("-days"), QStringLiteral("7"),
              QStringLiteral("-extfile"), QStringLiteral("pki.cnf"), QStringLiteral("-extensions"),
              extensions, QStringLiteral("-out"), name + QStringLiteral(".pem")},
             error);
}

}  // namespace

const TestPki* SharedTestPki(QString* error) {
  static std::unique_ptr<QTemporaryDir> dir;
  static std::unique_ptr<TestPki> pki;
  static QString failure;
  if (pki) return pki.get();
  if (!failure.isEmpty()) {
    *error = failure;
    return nullptr;
  }

  dir = std::make_unique<QTemporaryDir>();
  const QString path = dir->path();
  QFile config(path + QStringLiteral("/pki.cnf"));
  if (!dir->isValid() || !config.open(QIODevice::WriteOnly) || config.write(kConfig) < 0) {
    failure = QStringLiteral("cannot write the openssl configuration");
  }
  config.close();
  if (failure.isEmpty() && MakeCa(path, QStringLiteral("ca"), &failure) &&
      MakeCa(path, QStringLiteral("other-ca"), &failure) &&
      MakeServer(path, QStringLiteral("server"), QStringLiteral("server_ext"), &failure) &&
      MakeServer(path, QStringLiteral("wrong-name"), QStringLiteral("wrong_name_ext"), &failure)) {
    pki = std::make_unique<TestPki>(TestPki{
        path + QStringLiteral("/ca.pem"), path + QStringLiteral("/other-ca.pem"),
        path + QStringLiteral("/server.pem"), path + QStringLiteral("/server.key"),
        path + QStringLiteral("/wrong-name.pem"), path + QStringLiteral("/wrong-name.key")});
    return pki.get();
  }
  if (failure.isEmpty()) failure = QStringLiteral("openssl failed");
  *error = failure;
  return nullptr;
}
