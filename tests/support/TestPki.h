#pragma once

// A throwaway public-key infrastructure for tests that talk real HTTPS on loopback: our own test CA
// with a server certificate for the local names, an unrelated CA with a certificate for the same
// names (a server we must not trust), and a certificate from our CA for another name (a mismatch).

#include <QString>

struct TestPki
{
    QString Dir;
    QString CaFile;            // ca.pem: the CA the clients under test trust
    QString ServerCert;        // server.pem: signed by our CA, for localhost and the firm-type hosts
    QString ServerKey;         // server.key
    QString OtherCaFile;       // other-ca.pem: a CA nobody under test trusts
    QString OtherCaServerCert; // other-server.pem: same names, signed by the other CA
    QString OtherCaServerKey;  // other-server.key
    QString WrongNameCert;     // wrong-name.pem: signed by our CA, for "elsewhere.invalid" only
    QString WrongNameKey;      // wrong-name.key

    // Generates every file into dir (created when missing); throws std::runtime_error carrying
    // openssl's own error text when a step fails.
    static TestPki Generate(const QString& dir);

    // The file names Generate writes, in dir, without generating anything.
    static TestPki InDir(const QString& dir);
};

// One PKI per process, generated on first use into a temporary folder that lives until exit.
const TestPki& SharedTestPki();
