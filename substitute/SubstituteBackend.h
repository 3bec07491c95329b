#pragma once

// A local stand-in for the invoicing backend: a real HTTPS server on loopback that speaks the
// backend's requests and answers. Used by the tests (in process) and by the demo (as a program).

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace substitute {

struct FilePart
{
    std::string Name;        // the part's name
    std::string FileName;    // the filename parameter, as it stood between the quotes
    std::string ContentType;
    std::string Content;     // the file's bytes
};

// One request exactly as it arrived.
struct ReceivedRequest
{
    std::string Method;
    std::string Path;
    std::vector<std::pair<std::string, std::string>> Headers; // in arrival order
    std::string Body;                                        // raw bytes
    std::vector<std::pair<std::string, std::string>> Fields; // decoded form or multipart text fields
    std::vector<FilePart> Files;

    std::string Header(const std::string& name) const; // first match, case-insensitive; "" if none
    std::string Field(const std::string& name) const;  // first match; "" if none
};

// An answer a test scripts in place of the backend's own.
struct ScriptedAnswer
{
    int Status = 200;
    std::vector<std::pair<std::string, std::string>> Headers;
    std::string Body;
    bool Gzip = false;               // compress the body and send "Content-Encoding: gzip"
    std::chrono::milliseconds Delay{0};
    bool DropConnection = false;     // close the connection without an answer
};

// An invoice the substitute accepted through FAESendXml.
struct StoredInvoice
{
    std::string IdCoda;   // the queue identifier it was given
    std::string FileName;
    std::string Content;
};

struct Options
{
    std::string CertFile;   // PEM server certificate (chain)
    std::string KeyFile;    // PEM private key
    std::string Username;   // Basic authorization expected, e.g. "user@database"
    std::string Password;
    std::string BindAddress = "127.0.0.1";
    int Port = 0;           // 0: an ephemeral port
};

class Backend
{
public:
    explicit Backend(Options options); // starts serving on a thread of its own; throws on failure
    ~Backend();                        // stops and joins
    Backend(const Backend&) = delete;
    Backend& operator=(const Backend&) = delete;

    int Port() const;

    // Scripted answers are served first, in the order pushed, one per request.
    void PushAnswer(ScriptedAnswer answer);

    std::vector<ReceivedRequest> Requests() const;
    void ClearRequests();
    std::vector<StoredInvoice> Invoices() const;

private:
    struct Impl;
    std::unique_ptr<Impl> FImpl;
};

} // namespace substitute
