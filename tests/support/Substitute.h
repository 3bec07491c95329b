#pragma once

// The substitute backend as the tests and benchmarks start it: one set of credentials, the options
// that serve a test certificate, and the answers they script most.

#include "substitute/SubstituteBackend.h"
#include "tests/support/TestPki.h"

#include <string>

// The configuration holds the database and the user apart; the backend checks "user@database".
inline constexpr char kTestDatabase[] = "DEMO01";
inline constexpr char kTestUser[] = "mario.rossi";
inline constexpr char kTestUsername[] = "mario.rossi@DEMO01";
inline constexpr char kTestPassword[] = "s3gr3ta";

// A substitute that serves pki's server certificate and accepts only the test credentials, on port
// (0: an ephemeral one).
substitute::Options SubstituteOptions(const TestPki& pki = SharedTestPki(), int port = 0);
// The same with another certificate and key, for the tests of what a client trusts.
substitute::Options SubstituteOptions(const QString& certFile, const QString& keyFile);

// An answer with this body (a JSON text, or not) and status.
substitute::ScriptedAnswer JsonAnswer(std::string body, int status = 200);
// An answer with an empty "error" and the given "result" JSON text.
substitute::ScriptedAnswer ResultAnswer(const std::string& resultJson);
// The upload's answers: accepted into the queue under idCoda, or refused with the backend's error.
substitute::ScriptedAnswer Accepted(const std::string& idCoda);
substitute::ScriptedAnswer Refused(const std::string& error);
// The connection closed without an answer.
substitute::ScriptedAnswer DroppedConnection();
