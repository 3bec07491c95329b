#pragma once

// What the substitute backend holds before its first request: three received invoices, the
// registry's subjects and (StatiGestionali in SubstituteBackend.h) the management states.

#include "substitute/SubstituteDocuments.h"

#include <span>
#include <string>
#include <utility>

namespace substitute {

struct ReceivedSeed
{
    const char* IdFattura;
    const char* FileName;
    const char* Data; // receipt date, yyyy-MM-dd
    const char* Ora;  // and time, HH:mm:ss
    InvoiceSummary Summary;
};

std::span<const ReceivedSeed> ReceivedSeeds();

// The registry's subjects: tax code (or VAT number of a firm) and the backend's subject code.
std::span<const std::pair<const char*, const char*>> Soggetti();

// A small electronic invoice carrying the summary, so that a received invoice can be downloaded.
std::string InvoiceXml(const InvoiceSummary& summary);

} // namespace substitute
