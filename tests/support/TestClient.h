#pragma once

// The backend client as the tests and benchmarks use it against the substitute on loopback: a
// transport that trusts only the test CA, signed in with the substitute's test credentials.

#include "backend/DVBackendService.h"
#include "backend/HttpsClient.h"
#include "tests/support/TestPki.h"

#include <string>

// Short enough that a failing test does not hang, long enough for a sanitised build on a busy machine.
THttpsSettings TestTransport(const TestPki& pki = SharedTestPki());

// The service domain of a substitute on this loopback port.
QString LoopbackDomain(int port);

// The address the client posts to for a substitute on this loopback port.
std::string EndpointUrl(int port, const std::string& firmType = "aziende");

// Firm type "aziende" and the credentials the substitute's test options accept.
void SignInAsTestUser(TDVBackendService& client);
