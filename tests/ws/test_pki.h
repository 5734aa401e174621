#pragma once

#include <QString>

// Certificates for the wss:// loopback tests, made once per test run with the openssl command in
// a temporary folder that disappears with the process.
struct TestPki {
  QString caCertificate;       // the CA the tests trust
  QString otherCaCertificate;  // a CA that signed nothing here
  QString serverCertificate;   // signed by the CA, for 127.0.0.1 and localhost
  QString serverKey;
  QString wrongNameCertificate;  // signed by the CA, but for other.example only
  QString wrongNameKey;
};

// Null when openssl failed; `error` then says how.
const TestPki* SharedTestPki(QString* error);
