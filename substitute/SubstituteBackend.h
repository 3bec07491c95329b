#pragma once

// A local stand-in for the invoicing backend: a real HTTPS server on loopback that speaks the
// backend's requests and answers. Used by the tests (in process) and by the demo (as a program).

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace substitute {

struct FilePart
{
    std::string Name;     // the part's name
    std::string FileName; // the filename parameter, as it stood between the quotes
    std::string ContentType;
    std::string Content; // the file's bytes
};

// One request exactly as it arrived.
struct ReceivedRequest
{
    std::string Method;
    std::string Path;     // the request target without its query
    std::string FirmType; // the first label of the Host header ("aziende" of aziende.localhost:47443)
    int Connection = 0;   // number of the connection it came on: requests sharing one reused it
    bool TlsResumed = false; // its connection's handshake resumed an earlier TLS session
    std::vector<std::pair<std::string, std::string>> Headers; // in arrival order
    std::string Body;                                         // raw bytes
    std::vector<std::pair<std::string, std::string>> Fields;  // decoded form or multipart text fields
    std::vector<FilePart> Files;

    std::string Header(const std::string& name) const; // first match, case-insensitive; "" if none
    std::string Field(const std::string& name) const;  // first match; "" if none
};

// An answer a test scripts in place of the backend's own.
struct ScriptedAnswer
{
    int Status = 200;
    std::optional<std::string> Reason; // the status line's phrase; the standard one when not set
    std::string ContentType = "application/json; charset=utf-8"; // "" sends no Content-Type
    // Sent after Content-Type; one named "Content-Length" replaces the true length (a truncated answer).
    std::vector<std::pair<std::string, std::string>> Headers;
    std::string Body;
    bool Gzip = false; // compress the body and send "Content-Encoding: gzip"
    std::chrono::milliseconds Delay{0};
    bool DropConnection = false; // close the connection without an answer
    // A slow server: the answer, status line included, TrickleBytes at a time with TrickleInterval
    // between (0: all at once).
    std::size_t TrickleBytes = 0;
    std::chrono::milliseconds TrickleInterval{0};
};

// An invoice the substitute holds: the issued ones it accepted through FAESendXml, and the
// received ones it starts with.
struct StoredInvoice
{
    std::string IdCoda; // the queue identifier it was given; also its IdFattura
    std::string FileName;
    std::string Content;
    std::string FatturaInversa;        // "S" or "N", as the upload said
    std::string CodiceStatoGestionale; // the management state, changed by FAEAggiornaStato
    std::string Data;                  // sending (issued) or receipt (received) date, yyyy-MM-dd
    std::string Ora;                   // and time, HH:mm:ss
};

// One entry of an invoice's status history, as FAEGetStatusbyId lists it in "seq_NOTIFICA".
struct Notification
{
    std::string TipoNotifica; // RC, NS, MC, ... as the exchange names them
    std::string DataInvio;
    std::string DataRicezione;
};

// The management states the substitute knows, code and description.
const std::vector<std::pair<std::string, std::string>>& StatiGestionali();

struct Options
{
    std::string CertFile; // PEM server certificate (chain)
    std::string KeyFile;  // PEM private key
    std::string Username; // Basic authorization expected, e.g. "user@database"
    std::string Password;
    std::string BindAddress = "127.0.0.1";
    int Port = 0; // 0: an ephemeral port
    // A search answer holds at most this many invoices, whatever limit was asked (0: no cap), as a
    // backend that cuts its pages short does.
    int MaxPageSize = 0;
    // Session tickets for clients to resume their TLS sessions with; false: every handshake full.
    bool SessionResumption = true;
    // Each of its own answers waits this long before it is sent, as a slow backend's do.
    std::chrono::milliseconds AnswerDelay{0};
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
    std::vector<StoredInvoice> Invoices() const;         // issued, in order of arrival
    std::vector<StoredInvoice> ReceivedInvoices() const; // received (FAEPassivaSearch)
    // How many times each identifier's document was asked for (FAEGetXmlbyId answered by the
    // operation, found or not), by identifier.
    std::map<std::string, int> Downloads() const;

    // Holds an invoice as if it had been uploaded now; returns its queue identifier.
    std::string AddIssuedInvoice(const std::string& fileName, const std::string& content);
    // Holds one more received invoice, received on date (yyyy-MM-dd) at time; returns its identifier.
    std::string AddReceivedInvoice(const std::string& fileName, const std::string& content,
                                   const std::string& date, const std::string& time);
    // The status history FAEGetStatusbyId reports for the invoice from now on, in this order; its
    // status code is the type of the entry received last (by DataRicezione, written yyyy-MM-dd
    // HH:mm:ss). Without one, an invoice is reported delivered (RC).
    void SetNotifications(const std::string& idFattura, std::vector<Notification> history);

private:
    struct Impl;
    std::unique_ptr<Impl> FImpl;
};

} // namespace substitute
