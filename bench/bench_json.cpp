// Parses and serialises a search answer of 10,000 received invoices (about 10 MB), as
// FAEPassivaSearch gets it, and maps every invoice into a record the way the search does
// (serialise the element, RecordFromJson on the text). Prints MB/s and the peak resident size.

#include "json/Fatture.h"
#include "json/Json.h"
#include "json/RecordFromJson.h"

#include <QByteArray>
#include <QString>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <sys/resource.h>
#include <time.h>

namespace {

constexpr int kInvoices = 10000;
constexpr int kRounds = 5;

// Values of the shape the backend sends: codes, dates, amounts as numbers and texts, names with
// accented letters and the odd escaped character.
QByteArray Invoice(int i)
{
    const QByteArray n = QByteArray::number(i);
    QByteArray text;
    text.reserve(1100);
    text += "{\"IdFattura\":\"" + n + "\",\"IdSDI\":\"" + QByteArray::number(9000000000LL + i) +
            "\",\"Nomefile\":\"IT01234567890_" + n.rightJustified(5, '0') +
            ".xml.p7m\",\"FatturaData\":\"2024-03-05\",\"FatturaNumero\":\"FT/2024/" + n +
            "\",\"FatturaImporto\":" + QByteArray::number(i % 9973) + "." + QByteArray::number(10 + i % 90) +
            ",\"RicezioneData\":\"2024-03-06\",\"RicezioneOra\":\"10:30:15\","
            "\"CedenteAnagrafica\":\"Societ\xC3\xA0 Fornitrice Caff\xC3\xA8 & Servizi S.r.l. n. " +
            n +
            "\",\"CedenteCodiceFiscale\":\"01234567890\","
            "\"CessionarioAnagrafica\":\"Cliente \\\"Perch\xC3\xA9\\\" Gi\xC3\xB2 Lavorazioni S.p.A. - Via "
            "dell'Industria 12, 40100 Bologna (BO)\",\"CessionarioCodiceFiscale\":\"RSSMRA80A01H501U\","
            "\"CessionarioPartitaIva\":\"IT09876543210\",\"FatturaLotto\":\"" +
            QByteArray(i % 3 == 0 ? "S" : "N") + "\",\"PosizioneLotto\":" + QByteArray::number(i % 7) +
            ",\"CodiceStatoGestionale\":\"" + QByteArray::number(i % 5) +
            "\",\"StatoGestionale\":\"Da registrare in contabilit\xC3\xA0 - note: consegna presso "
            "magazzino centrale\\nriferimento ordine " +
            n +
            "\",\"TipoDocumento\":\"TD01\",\"StatoQuadrFattura\":null,"
            "\"Note\":\"Documento ricevuto tramite SdI, file firmato digitalmente e verificato; "
            "conservazione sostitutiva a norma in corso, protocollo interno " +
            n + "/2024; registrazione IVA nel registro acquisti sezionale " + QByteArray::number(i % 4) +
            ", competenza economica marzo 2024, centro di costo amministrazione, pagamento a 60 giorni "
            "data fattura fine mese, " +
            n + "/2024\"}";
    return text;
}

QByteArray SearchAnswer()
{
    QByteArray text;
    text.reserve(11 * 1024 * 1024);
    text += "{\"error\":\"\",\"result\":{\"NumeroTotale\":\"" + QByteArray::number(kInvoices) +
            "\",\"seq_FATTURE\":[";
    for (int i = 0; i < kInvoices; ++i) {
        if (i > 0)
            text += ',';
        text += Invoice(i);
    }
    text += "]}}";
    return text;
}

double CpuSeconds()
{
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return now.tv_sec + now.tv_nsec / 1e9;
}

// The best of kRounds runs, in CPU seconds of this process, so that other work on a shared
// machine does not count.
double BestTime(const std::function<void()>& run)
{
    double best = 1e9;
    for (int round = 0; round < kRounds; ++round) {
        const double start = CpuSeconds();
        run();
        best = std::min(best, CpuSeconds() - start);
    }
    return best;
}

long PeakResidentKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace

int main()
{
    const QByteArray answer = SearchAnswer();
    const double megabytes = answer.size() / (1024.0 * 1024.0);
    std::printf("answer: %.2f MB, %d invoices; peak RSS before parsing %ld KiB\n", megabytes, kInvoices,
                PeakResidentKiB());

    std::unique_ptr<TJSONValue> tree;
    const double parseSeconds = BestTime([&] {
        tree.reset();
        tree = ParseJsonUtf8(answer);
    });
    if (!tree) {
        std::fprintf(stderr, "the answer did not parse\n");
        return 1;
    }
    std::printf("parse:     %8.1f ms  %7.1f MB/s\n", parseSeconds * 1000, megabytes / parseSeconds);

    QString serialised;
    const double writeSeconds = BestTime([&] { serialised = ToJsonText(*tree); });
    const double outMegabytes = serialised.size() / (1024.0 * 1024.0); // pure ASCII: one byte each
    std::printf("serialise: %8.1f ms  %7.1f MB/s of input, %.2f MB of output\n", writeSeconds * 1000,
                megabytes / writeSeconds, outMegabytes);
    std::printf("peak RSS with the answer, its tree and its serialised text: %ld KiB\n", PeakResidentKiB());

    std::size_t mapped = 0;
    const double mapSeconds = BestTime([&] {
        TFAEPassivaList records;
        for (const auto& item : ReadPathArray(*tree, QStringLiteral("result.seq_FATTURE")).Items())
            records.push_back(RecordFromJson<TFAEPassiva>(ToJsonText(*item)));
        mapped = records.size();
    });
    std::printf("map:       %8.1f ms  %7.1f MB/s, %zu records\n", mapSeconds * 1000, megabytes / mapSeconds,
                mapped);

    const std::unique_ptr<TJSONValue> again = ParseJsonText(serialised);
    if (!again || !JsonEquals(*tree, *again)) {
        std::fprintf(stderr, "the round trip changed the answer\n");
        return 1;
    }
    std::printf("peak RSS at the end (two trees held for the round-trip check): %ld KiB\n",
                PeakResidentKiB());
    return 0;
}
