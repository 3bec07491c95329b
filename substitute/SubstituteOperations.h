#pragma once

// The backend's operations over the invoices the substitute holds: the upload, the two searches,
// status, download and state update of one invoice, the registry lookup and the database check.

#include "substitute/SubstituteBackend.h"
#include "substitute/SubstituteDocuments.h"

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace substitute {

// The JSON body of an answer that refuses a whole request: {"error": message}.
std::string RefusalJson(const std::string& message);

// An invoice with what a search reports of it.
struct HeldInvoice
{
    StoredInvoice Invoice;
    InvoiceSummary Summary;
    std::string IdSDI;
};

// Not locked: the caller runs one request at a time.
class Operations
{
public:
    // Starts with the seeded received invoices; the database is the part of `username` after "@".
    // A search answer holds at most maxPageSize invoices (0: no cap).
    Operations(std::string username, int maxPageSize);

    // The JSON body of the 200 answer to the operation that "QELT_REQ" names:
    // {"error":"","result":...}, or the refusal in "error" (also of an operation nobody knows).
    std::string Answer(const ReceivedRequest& request);

    // The accepted invoices: queue id, file name, size and management state.
    std::string ReceivedList() const;

    const std::vector<HeldInvoice>& Issued() const { return FIssued; }
    const std::vector<HeldInvoice>& Received() const { return FReceived; }
    const std::map<std::string, int>& Downloads() const { return FDownloads; }

    std::string AddIssued(const std::string& fileName, const std::string& content,
                          const std::string& inversa);
    std::string AddReceived(const std::string& fileName, const std::string& content, const std::string& date,
                            const std::string& time);
    void SetNotifications(const std::string& idFattura, std::vector<Notification> history);

private:
    using Handler = std::string (Operations::*)(const ReceivedRequest&);
    static const std::pair<const char*, Handler> kHandlers[];

    std::string SendXml(const ReceivedRequest& request);
    std::string AttivaSearch(const ReceivedRequest& request);
    std::string PassivaSearch(const ReceivedRequest& request);
    std::string GetStatusbyId(const ReceivedRequest& request);
    std::string GetXmlbyId(const ReceivedRequest& request);
    std::string AggiornaStato(const ReceivedRequest& request);
    std::string GetCodiceSoggetto(const ReceivedRequest& request);
    std::string CheckDatabase(const ReceivedRequest& request);

    HeldInvoice* Find(const std::string& idFattura);

    std::string FUsername;
    int FMaxPageSize;
    std::vector<HeldInvoice> FIssued;
    std::vector<HeldInvoice> FReceived;
    std::map<std::string, std::vector<Notification>> FNotifications; // by IdFattura
    std::map<std::string, int> FDownloads;                            // FAEGetXmlbyId, by idcoda
    long FLastIdCoda = 0;
    long FLastReceivedId = 0;
};

} // namespace substitute
