// The dispatch cycle against the substitute backend on loopback: what ends up in which folder,
// under which name and with which error text, and what the backend received.

#include "dispatch/OutgoingDispatch.h"
#include "backend/AnswerDecoding.h"
#include "backend/DVBackendService.h"
#include "dispatch/DispatchJournal.h"
#include "log/LogFile.h"
#include "substitute/SubstituteBackend.h"
#include "tests/support/Files.h"
#include "tests/support/InvoiceFolders.h"
#include "tests/support/LogEntries.h"
#include "tests/support/OtherUser.h"
#include "tests/support/Substitute.h"
#include "tests/support/TestClient.h"
#include "util/Errors.h"
#include "util/FileLock.h"
#include "util/Timestamp.h"
#include "util/UniqueFd.h"

#include <QDateTime>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <climits>
#include <fcntl.h>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

const QStringList kXmlMask{".xml", ".p7m"};

QByteArray ErrorText(const QString& N, const QString& backendError)
{
    return ("Errore durante tentativo di invio fattura: " + N +
            "\r\nMessaggio: \r\nErrore in invio fattura: " + backendError + "\r\n")
        .toLatin1();
}

class OutgoingDispatchTest : public testing::Test
{
protected:
    OutgoingDispatchTest()
        : Backend(SubstituteOptions()), Client(LoopbackDomain(Backend.Port()), TestTransport()),
          Folders(Dir.path() + "/da inviare")
    {
        SignInAsTestUser(Client);
    }

    void TearDown() override { Folders.ExpectEveryInvoiceInExactlyOnePlace(); }

    // One tick of the cycle; the message of the failure that ended it, empty when none did.
    QString Tick(const QString& folder)
    {
        TOutgoingDispatch dispatch(folder, kXmlMask, Client, [this](quint32 ms) { Waits.push_back(ms); });
        dispatch.SetEvents({[this](const QString& N) {
                                Events.push_back("found " + N);
                                if (OnFound)
                                    OnFound(N);
                            },
                            [this](const QString& N, const QString& Q) {
                                Events.push_back("sent " + N + " " + Q);
                                if (OnSent)
                                    OnSent(N);
                            },
                            [this](const QString& N, const QString& archived) {
                                Events.push_back("archived " + N + " " + archived);
                            },
                            [this](const QString& N, const QString& backendText) {
                                Events.push_back("refused " + N);
                                Refusals.push_back((N + QStringLiteral(": ") + backendText).toStdString());
                            }});
        try {
            Answered = dispatch.ProcessOutgoingInvoices();
        } catch (const EInvioException& e) {
            ADD_FAILURE() << "a refusal escaped the cycle: " << e.what();
        } catch (const EVornError& e) {
            return e.Message();
        }
        return {};
    }
    QString Tick() { return Tick(Folders.Outgoing()); }

    std::vector<std::string> UploadedNames() const
    {
        std::vector<std::string> names;
        for (const substitute::ReceivedRequest& request : Backend.Requests())
            for (const substitute::FilePart& file : request.Files)
                names.push_back(file.FileName);
        return names;
    }

    QTemporaryDir Dir;
    substitute::Backend Backend;
    TDVBackendService Client;
    InvoiceFolders Folders;
    std::vector<quint32> Waits;
    std::vector<std::string> Refusals; // "N: the backend's text", as the window is told
    QStringList Events;                // what the cycle told, in order
    std::function<void(const QString& N)> OnFound, OnSent;
    int Answered = -1;                 // what the last tick that ended returned
};

TEST_F(OutgoingDispatchTest, AcceptedAndRefusedFilesAreArchivedWithTheirNamesAndErrorText)
{
    Folders.Drop("IT01234567890_00001.XML");
    Folders.Drop("IT01234567890_00002.xml");
    Backend.PushAnswer(Accepted("4711"));
    Backend.PushAnswer(Refused("Fattura gi\\u00e0 presente"));

    EXPECT_EQ(Tick(), "");

    EXPECT_EQ(InvoiceFolders::Files(Folders.Outgoing()), QStringList());
    // The archive copy carries the mask's lower-case extension.
    EXPECT_EQ(InvoiceFolders::Files(Folders.Inviate()), QStringList{"IT01234567890_00001_4711.xml"});
    EXPECT_EQ(InvoiceFolders::Files(Folders.Errori(), true),
              (QStringList{"IT01234567890_00002.xml", "IT01234567890_00002.xml_ERRORE.log"}));
    // Windows-1252: the accented letter is one byte.
    const QByteArray expected = "Errore durante tentativo di invio fattura: IT01234567890_00002.xml\r\n"
                                "Messaggio: \r\n"
                                "Errore in invio fattura: Fattura gi\xe0 presente\r\n";
    EXPECT_EQ(ReadBytes(Folders.InErrori("IT01234567890_00002.xml_ERRORE.log")), expected);

    const auto requests = Backend.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].Field("FatturaInversa"), "N");
    ASSERT_EQ(requests[0].Files.size(), 1u);
    EXPECT_EQ(requests[0].Files[0].FileName, "IT01234567890_00001.XML");
    EXPECT_EQ(QByteArray::fromStdString(requests[0].Files[0].Content),
              SampleInvoice("IT01234567890_00001.XML"));
    EXPECT_EQ(Waits, std::vector<quint32>{3000});
    // The owner hears of the refusal with the backend's own text, and of both answers.
    EXPECT_EQ(Refusals, std::vector<std::string>{"IT01234567890_00002.xml: Fattura già presente"});
    EXPECT_EQ(Answered, 2);
    EXPECT_EQ(Events, (QStringList{"found IT01234567890_00001.XML", "sent IT01234567890_00001.XML 4711",
                                   "archived IT01234567890_00001.XML " +
                                       Folders.InInviate("IT01234567890_00001_4711.xml"),
                                   "found IT01234567890_00002.xml", "refused IT01234567890_00002.xml"}));
}

TEST_F(OutgoingDispatchTest, TheSubstituteBackendJudgesTheDocumentsThemselves)
{
    Folders.Drop("valida.xml");
    Folders.Drop("rotta.xml", "<?xml version=\"1.0\"?><FatturaElettronica><non chiusa>");
    // A DER SEQUENCE holding one OCTET STRING: the shape of a signed envelope.
    Folders.Drop("firmata.xml.p7m", QByteArray::fromHex("3005040301020a"));

    EXPECT_EQ(Tick(), "");

    const auto invoices = Backend.Invoices();
    ASSERT_EQ(invoices.size(), 2u);
    for (const substitute::StoredInvoice& invoice : invoices) {
        SCOPED_TRACE(invoice.FileName);
        const QString name = QString::fromStdString(invoice.FileName);
        const QString base = name.left(name.lastIndexOf('.'));
        const QString extension = name.mid(name.lastIndexOf('.'));
        EXPECT_EQ(
            ReadBytes(Folders.InInviate(base + "_" + QString::fromStdString(invoice.IdCoda) + extension)),
            QByteArray::fromStdString(invoice.Content));
    }
    EXPECT_EQ(InvoiceFolders::Files(Folders.Errori()), QStringList{"rotta.xml"});
    const QByteArray errorText = ReadBytes(Folders.InErrori("rotta.xml_ERRORE.log"));
    EXPECT_TRUE(errorText.startsWith("Errore durante tentativo di invio fattura: rotta.xml\r\nMessaggio: \r\n"
                                     "Errore in invio fattura: "))
        << errorText.toStdString();
    EXPECT_TRUE(errorText.endsWith("\r\n"));
}

TEST_F(OutgoingDispatchTest, ARefusedNameTakenInErroriGetsATimestampAndLeavesTheEarlierOneAlone)
{
    Folders.Place(Folders.InErrori("F1.XML"), "earlier invoice");
    WriteBytes(Folders.InErrori("F1.XML_ERRORE.log"), "earlier error text");
    Folders.Drop("F1.XML");
    Backend.PushAnswer(Refused("Partita IVA errata"));

    const QString before = TimestampText();
    EXPECT_EQ(Tick(), "");
    const QString after = TimestampText();

    const QStringList errori = InvoiceFolders::Files(Folders.Errori());
    ASSERT_EQ(errori.size(), 2);
    const QString archived = errori.at(0) == "F1.XML" ? errori.at(1) : errori.at(0);
    const QRegularExpressionMatch match = QRegularExpression("^F1_(\\d{14})\\.xml$").match(archived);
    ASSERT_TRUE(match.hasMatch()) << archived.toStdString();
    EXPECT_GE(match.captured(1), before);
    EXPECT_LE(match.captured(1), after);
    EXPECT_EQ(ReadBytes(Folders.InErrori(archived + "_ERRORE.log")),
              ErrorText("F1.XML", "Partita IVA errata"));
    EXPECT_EQ(ReadBytes(Folders.InErrori("F1.XML_ERRORE.log")), "earlier error text");
}

TEST_F(OutgoingDispatchTest, AnErrorTextLeftFromAnEarlierRefusalIsReplaced)
{
    WriteBytes(Folders.InErrori("F2.xml_ERRORE.log"), "an old, much longer error text that must go away\r\n");
    Folders.Drop("F2.xml");
    Backend.PushAnswer(Refused("Nuovo errore"));

    EXPECT_EQ(Tick(), "");

    EXPECT_EQ(ReadBytes(Folders.InErrori("F2.xml_ERRORE.log")), ErrorText("F2.xml", "Nuovo errore"));
    EXPECT_EQ(InvoiceFolders::Files(Folders.Errori(), true), (QStringList{"F2.xml", "F2.xml_ERRORE.log"}));
}

TEST_F(OutgoingDispatchTest, FilesGoInTheOrderOfTheListingWhateverTheCase)
{
    for (const char* name : {"c.p7m", "b.xml", "A.XML", "b.xml.p7m"})
        Folders.Drop(name);
    for (int i = 0; i < 4; ++i)
        Backend.PushAnswer(Accepted(std::to_string(100 + i)));

    EXPECT_EQ(Tick(), "");

    EXPECT_EQ(UploadedNames(), (std::vector<std::string>{"A.XML", "b.xml", "b.xml.p7m", "c.p7m"}));
    EXPECT_EQ(InvoiceFolders::Files(Folders.Inviate()),
              (QStringList{"A_100.xml", "b.xml_102.p7m", "b_101.xml", "c_103.p7m"}));
}

// A stop request (the agent's SIGTERM) ends the pass after the invoice in hand, never inside it.
TEST_F(OutgoingDispatchTest, AStopRequestEndsThePassAfterTheInvoiceInHand)
{
    for (const char* name : {"A.xml", "B.xml", "C.xml"})
        Folders.Drop(name);
    Backend.PushAnswer(Accepted("1"));
    TOutgoingDispatch dispatch(
        Folders.Outgoing(), kXmlMask, Client, [](quint32) {}, [this] { return !Backend.Requests().empty(); });

    dispatch.ProcessOutgoingInvoices();

    EXPECT_EQ(UploadedNames(), std::vector<std::string>{"A.xml"});
    EXPECT_EQ(InvoiceFolders::Files(Folders.Inviate()), QStringList{"A_1.xml"});
    EXPECT_EQ(InvoiceFolders::Files(Folders.Outgoing()), (QStringList{"B.xml", "C.xml"}));
}

TEST_F(OutgoingDispatchTest, FilesThatAreNotInvoicesAreLeftAlone)
{
    const QStringList others{"notes.txt", "senza_punto", "finisce.", "fattura.xml.bak", ".xmlx"};
    for (const QString& name : others)
        Folders.Drop(name);

    EXPECT_EQ(Tick(), "");
    EXPECT_EQ(Tick(), "");

    EXPECT_TRUE(Backend.Requests().empty());
    QStringList sorted = others;
    sorted.sort();
    EXPECT_EQ(InvoiceFolders::Files(Folders.Outgoing()), sorted);
    // Any file at all in the listing means the pause, at every tick.
    EXPECT_EQ(Waits, (std::vector<quint32>{3000, 3000}));
    // Nothing was sent: the pass tells nothing of the backend.
    EXPECT_EQ(Answered, 0);
}

// A name in Latin-1 (an old Samba client) cannot be reopened by any converted text, so the file
// stays; but the log says so, once per run, naming it with "?" for the bytes it cannot show.
TEST_F(OutgoingDispatchTest, AnInvoiceWhoseNameIsNotUtf8StaysAndIsNamedInOneWarning)
{
    AppLog = std::make_unique<TLogFile>(Dir.filePath("VORN_Automatic.log"));
    AppLog->SetWriteDelayForTesting(std::chrono::milliseconds(0));
    const auto closeLog = qScopeGuard([] { AppLog.reset(); });
    const QByteArray folder = QFile::encodeName(Folders.Outgoing());
    for (const QByteArray& name : {QByteArray("Fattura_\xE8.xml"), QByteArray("nota_\xE8.txt")}) {
        const int fd = ::open(folder + '/' + name, O_WRONLY | O_CREAT | O_EXCL, 0644);
        ASSERT_GE(fd, 0);
        ::close(fd);
    }
    Folders.Drop("F.xml");
    Backend.PushAnswer(Accepted("1"));

    EXPECT_EQ(Tick(), "");
    EXPECT_EQ(Tick(), "");

    EXPECT_EQ(UploadedNames(), std::vector<std::string>{"F.xml"});
    const QStringList lines =
        QString::fromLatin1(ReadBytes(Dir.filePath("VORN_Automatic.log"))).split("\r\n");
    const QStringList warnings = lines.filter("] WRN- ");
    ASSERT_EQ(warnings.size(), 1) << warnings.join('\n').toStdString();
    EXPECT_TRUE(warnings[0].endsWith("] WRN- Fattura non inviata, il nome del file non è UTF-8: " +
                                     Folders.InOutgoing("Fattura_?.xml")))
        << warnings[0].toStdString();
    struct stat info;
    EXPECT_EQ(::stat(folder + "/Fattura_\xE8.xml", &info), 0) << "the file stays where it is";
    // The folder rule after the test reads every file by the name QDir shows, which these lack.
    ::unlink(folder + "/Fattura_\xE8.xml");
    ::unlink(folder + "/nota_\xE8.txt");
}

TEST_F(OutgoingDispatchTest, AnEmptyFolderMeansNoPauseAndNoUpload)
{
    EXPECT_EQ(Tick(), "");
    EXPECT_TRUE(Waits.empty());
    EXPECT_TRUE(Backend.Requests().empty());
}

TEST_F(OutgoingDispatchTest, AFolderThatDoesNotExistIsAnEmptyFolder)
{
    EXPECT_EQ(Tick(Dir.path() + "/altrove"), "");
    EXPECT_TRUE(Waits.empty());
}

TEST_F(OutgoingDispatchTest, AFolderTextEndingWithTheSeparatorGetsNoSecondOne)
{
    Folders.Drop("X.xml");
    Backend.PushAnswer(Accepted("9"));
    EXPECT_EQ(Tick(Folders.Outgoing() + "/"), "");
    EXPECT_EQ(InvoiceFolders::Files(Folders.Inviate()), QStringList{"X_9.xml"});
}

// Failures that are not a refusal of the file: the file stays, the cycle ends, later files wait.
TEST_F(OutgoingDispatchTest, AnyOtherUploadFailureLeavesTheFilesAndEndsTheCycle)
{
    struct Case
    {
        const char* Name;
        substitute::ScriptedAnswer Answer;
    };
    substitute::ScriptedAnswer status500 = ResultAnswer("{}");
    status500.Status = 500;
    const std::vector<Case> cases = {
        {"dropped connection", DroppedConnection()},
        {"status 500", status500},
        {"error at the top level", JsonAnswer(R"({"error":"Utente non autorizzato","result":{"Error":""}})")},
        {"not JSON", JsonAnswer("<html>Service Unavailable</html>")},
        {"result is not an object", ResultAnswer("null")},
    };
    Folders.Drop("P1.xml");
    Folders.Drop("P2.xml");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        Backend.ClearRequests();
        Backend.PushAnswer(c.Answer);
        EXPECT_NE(Tick(), "");
        EXPECT_EQ(UploadedNames(), std::vector<std::string>{"P1.xml"});
        EXPECT_EQ(InvoiceFolders::Files(Folders.Outgoing()), (QStringList{"P1.xml", "P2.xml"}));
        Folders.ExpectEveryInvoiceInExactlyOnePlace();
    }

    // The failing file sorts first, so it is retried first once the backend answers again.
    Backend.ClearRequests();
    Backend.PushAnswer(Accepted("1"));
    Backend.PushAnswer(Accepted("2"));
    EXPECT_EQ(Tick(), "");
    EXPECT_EQ(UploadedNames(), (std::vector<std::string>{"P1.xml", "P2.xml"}));
    EXPECT_EQ(InvoiceFolders::Files(Folders.Inviate()), (QStringList{"P1_1.xml", "P2_2.xml"}));
}

TEST_F(OutgoingDispatchTest, AFailedMoveToInviateKeepsTheFileAndEndsTheCycle)
{
    Folders.Place(Folders.InInviate("M1_7.xml"), "an earlier invoice with the same queue number");
    Folders.Drop("M1.xml");
    Folders.Drop("M2.xml");
    Backend.PushAnswer(Accepted("7"));

    EXPECT_EQ(Tick(),
              "Errore in archiviazione fattura dopo invio: M1.xml -> " + Folders.InInviate("M1_7.xml"));

    EXPECT_EQ(UploadedNames(), std::vector<std::string>{"M1.xml"});
    EXPECT_EQ(InvoiceFolders::Files(Folders.Outgoing()), (QStringList{"M1.xml", "M2.xml"}));
    EXPECT_EQ(ReadBytes(Folders.InInviate("M1_7.xml")), "an earlier invoice with the same queue number");

    // The backend has M1: while its name stays taken it is never sent again, and the rest go on.
    Backend.PushAnswer(Accepted("8"));
    EXPECT_EQ(Tick(), "");
    EXPECT_EQ(UploadedNames(), (std::vector<std::string>{"M1.xml", "M2.xml"}));
    EXPECT_EQ(InvoiceFolders::Files(Folders.Outgoing()), QStringList{"M1.xml"});

    // Once the name is free, M1 is archived under the queue identifier it was given.
    ASSERT_TRUE(QFile::rename(Folders.InInviate("M1_7.xml"), Folders.InErrori("M1_7.xml")));
    EXPECT_EQ(Tick(), "");
    EXPECT_EQ(UploadedNames(), (std::vector<std::string>{"M1.xml", "M2.xml"}));
    EXPECT_EQ(InvoiceFolders::Files(Folders.Inviate()), (QStringList{"M1_7.xml", "M2_8.xml"}));
    EXPECT_FALSE(QFileInfo::exists(TDispatchJournal(Folders.Outgoing()).Path()));
}

// A cycle cut off after the backend accepted a file and before its move (the record is on disk)
// is completed by the next cycle, which never sends that document again.
TEST_F(OutgoingDispatchTest, ARecordedAcceptanceIsArchivedWithoutASecondUpload)
{
    struct Case
    {
        const char* Name;
        std::function<void(InvoiceFolders&)> AfterTheCut;
        QStringList Uploaded;
        QStringList Inviate;
    };
    const auto moveAway = [](InvoiceFolders& folders) {
        ASSERT_TRUE(QFile::rename(folders.InOutgoing("R.xml"), folders.InErrori("R.xml")));
    };
    const std::vector<Case> cases = {
        {"the same file still there", [](InvoiceFolders&) {}, {}, {"R_55.xml"}},
        {"the file gone", moveAway, {}, {}},
        {"another document under the name",
         [&](InvoiceFolders& folders) {
             moveAway(folders);
             folders.Drop("R.xml", "<FatturaElettronica>nuova</FatturaElettronica>");
         },
         {"R.xml"},
         {"R_56.xml"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        QTemporaryDir dir;
        InvoiceFolders folders(dir.path() + "/out");
        folders.Drop("R.xml");
        TDispatchJournal journal(folders.Outgoing());
        journal.Record({"R.xml", *ContentOfFile(folders.InOutgoing("R.xml")), "55"});
        c.AfterTheCut(folders);
        // What a kill while the record was being replaced leaves beside it.
        const QString leftTemporary = folders.InOutgoing("..vorn-dispatch.journal.Xq3Tz9");
        WriteBytes(leftTemporary, "{\"version\":1,\"acc");
        Backend.ClearRequests();
        Backend.PushAnswer(Accepted("56"));

        EXPECT_EQ(Tick(folders.Outgoing()), "");
        QStringList uploaded;
        for (const std::string& name : UploadedNames())
            uploaded << QString::fromStdString(name);
        EXPECT_EQ(uploaded, c.Uploaded);
        EXPECT_EQ(InvoiceFolders::Files(folders.Inviate()), c.Inviate);
        EXPECT_FALSE(QFileInfo::exists(journal.Path()));
        EXPECT_FALSE(QFileInfo::exists(leftTemporary));
        folders.ExpectEveryInvoiceInExactlyOnePlace();
    }
}

// Whatever its writer is given reads back: the longest names a folder holds and the longest queue
// identifiers an answer may carry, in characters that are written as six-character escapes.
TEST(DispatchJournalTest, TheLargestEntriesItsWriterWritesReadBack)
{
    QTemporaryDir dir;
    TDispatchJournal journal(dir.path());
    std::vector<TAcceptedUpload> written;
    for (char last : {'a', 'b', 'c'}) {
        written.push_back({QString(NAME_MAX - 1, QChar(0x01)) + QLatin1Char(last),
                           TInvoiceContent{5 * 1024 * 1024, QByteArray(64, 'f')},
                           QString(kMaxIdCodaLength, QChar(0x2603))});
        journal.Record(written.back());
    }
    TDispatchJournal reread(dir.path());
    reread.Load();
    ASSERT_EQ(reread.Entries().size(), written.size());
    for (std::size_t i = 0; i < written.size(); ++i) {
        EXPECT_EQ(reread.Entries()[i].FileName, written[i].FileName);
        EXPECT_EQ(reread.Entries()[i].Content, written[i].Content);
        EXPECT_EQ(reread.Entries()[i].IdCoda, written[i].IdCoda);
    }
}

// A record that is not one this system wrote stops the cycle before it sends or moves anything.
TEST_F(OutgoingDispatchTest, ADamagedRecordStopsTheCycleAndTouchesNothing)
{
    const QString path = TDispatchJournal(Folders.Outgoing()).Path();
    const QString entry = R"({"file":"D.xml","size":1,"sha256":")" + QString(64, '0') + R"(","idCoda":"3"})";
    const std::vector<std::pair<QByteArray, QString>> cases = {
        {"{\"version\":1,\"accepted\":[", "JSON non valido"},
        {"{\"version\":2,\"accepted\":[]}", "versione sconosciuta"},
        {"{\"version\":1}", "elenco mancante"},
        {"{\"version\":1,\"accepted\":[" + QString(entry).replace("D.xml", "../D.xml").toUtf8() + "]}",
         "voce non valida"},
        {"{\"version\":1,\"accepted\":[" + QString(entry).replace("\"3\"", "3").toUtf8() + "]}",
         "voce non valida"},
    };
    Folders.Drop("D.xml");
    for (const auto& [bytes, what] : cases) {
        SCOPED_TRACE(bytes.toStdString());
        WriteBytes(path, bytes);
        EXPECT_EQ(Tick(), "Registro invii danneggiato: " + path + " (" + what + ")");
        EXPECT_EQ(ReadBytes(path), bytes);
    }
    QFile::remove(path);
    ASSERT_TRUE(QFile::link(Folders.InOutgoing("D.xml"), path));
    EXPECT_EQ(Tick(), "Registro invii danneggiato: " + path + " (non è un file regolare del sistema)");

    EXPECT_TRUE(Backend.Requests().empty());
    EXPECT_TRUE(Waits.empty());
    EXPECT_EQ(InvoiceFolders::Files(Folders.Outgoing()), QStringList{"D.xml"});
}

// While another cycle serves the folder (here: another holder of its lock), a tick sends nothing.
TEST_F(OutgoingDispatchTest, AFolderServedByAnotherCycleIsLeftToIt)
{
    Folders.Drop("L.xml");
    {
        const TFileLock other = TFileLock::TryAcquire(Folders.InOutgoing(kDispatchLockName));
        ASSERT_EQ(other.State(), TFileLock::TState::Held);
        EXPECT_EQ(Tick(), "");
        EXPECT_TRUE(Backend.Requests().empty());
        EXPECT_EQ(InvoiceFolders::Files(Folders.Outgoing()), QStringList{"L.xml"});
    }
    Backend.PushAnswer(Accepted("1"));
    EXPECT_EQ(Tick(), "");
    EXPECT_EQ(InvoiceFolders::Files(Folders.Inviate()), QStringList{"L_1.xml"});

    // A lock that cannot be taken at all stops the cycle before it sends anything.
    Folders.Drop("M.xml");
    const QString lockPath = Folders.InOutgoing(kDispatchLockName);
    ASSERT_TRUE(QFile::remove(lockPath) && QDir().mkdir(lockPath));
    EXPECT_EQ(Tick(),
              "Blocco della cartella per l'invio non riuscito: " + lockPath + ". " + SystemErrorText(EISDIR));
    EXPECT_EQ(InvoiceFolders::Files(Folders.Outgoing()), QStringList{"M.xml"});
    EXPECT_EQ(Backend.Requests().size(), 1u);
}

TEST_F(OutgoingDispatchTest, AnErrorTextThatCannotBeWrittenKeepsTheFileAndEndsTheCycle)
{
    struct Case
    {
        const char* Name;
        std::function<void()> Break;
        QString Reason;
    };
    // Permissions do not stop root, so the file system's structure does the refusing.
    const std::vector<Case> cases = {
        {"a folder holds the error text's name",
         [&] { QDir().mkpath(Folders.InErrori("E1.xml_ERRORE.log")); }, "Is a directory"},
    };
    Folders.Drop("E1.xml");
    Folders.Drop("E2.xml");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        c.Break();
        Backend.ClearRequests();
        Backend.PushAnswer(Refused("Rifiutata"));

        EXPECT_EQ(Tick(),
                  "Cannot create file \"" + Folders.InErrori("E1.xml_ERRORE.log") + "\". " + c.Reason);

        EXPECT_EQ(UploadedNames(), std::vector<std::string>{"E1.xml"});
        EXPECT_TRUE(QFile::exists(Folders.InOutgoing("E1.xml")));
        EXPECT_TRUE(QFile::exists(Folders.InOutgoing("E2.xml")));
        // No temporary error text is left behind.
        EXPECT_EQ(InvoiceFolders::Files(Folders.Errori(), true), QStringList());
        Folders.ExpectEveryInvoiceInExactlyOnePlace();
    }
}

// Errori may be writable by others: a link left there at the error text's name, or at the fixed
// name that error texts were once staged under, must not take the error text elsewhere.
TEST_F(OutgoingDispatchTest, ALinkPlantedInErroriDoesNotRedirectTheErrorText)
{
    const struct
    {
        const char* Invoice;
        const char* Link;
    } cases[] = {
        {"L1.xml", "L1.xml_ERRORE.log"},
        {"L2.xml", "L2.xml_ERRORE.log.tmp"},
    };
    const QString victim = Dir.path() + "/victim.txt";
    WriteBytes(victim, "precious");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Link);
        ASSERT_TRUE(QFile::link(victim, Folders.InErrori(c.Link)));
        Folders.Drop(c.Invoice);
        Backend.PushAnswer(Refused("Rifiutata"));

        EXPECT_EQ(Tick(), "");

        EXPECT_EQ(ReadBytes(victim), "precious");
        const QString errorText = Folders.InErrori(QString(c.Invoice) + "_ERRORE.log");
        EXPECT_FALSE(QFileInfo(errorText).isSymLink());
        EXPECT_EQ(ReadBytes(errorText), ErrorText(c.Invoice, "Rifiutata"));
        QFile::remove(Folders.InErrori(c.Link)); // the link itself, so the folders hold invoices only
    }
}

// Both names in Errori taken (the same name refused twice within one second): the move would
// fail, and the error text must not replace the one of the invoice that holds the name.
TEST_F(OutgoingDispatchTest, WhenTheTimestampedNameIsTakenTooNothingIsOverwritten)
{
    Folders.Place(Folders.InErrori("T.xml"), "first");
    const QDateTime now = QDateTime::currentDateTime();
    for (int s = -1; s <= 5; ++s) {
        const QString name = "T_" + TimestampText(now.addSecs(s)) + ".xml";
        Folders.Place(Folders.InErrori(name), name.toUtf8());
        WriteBytes(Folders.InErrori(name + "_ERRORE.log"), "its own error text");
    }
    Folders.Drop("T.xml");
    Backend.PushAnswer(Refused("Doppione"));

    const QString failure = Tick();

    EXPECT_TRUE(
        failure.startsWith("Errore in archiviazione fattura dopo invio: T.xml -> " + Folders.InErrori("T_")))
        << failure.toStdString();
    EXPECT_EQ(InvoiceFolders::Files(Folders.Outgoing()), QStringList{"T.xml"});
    int errorTexts = 0;
    for (const QString& name : InvoiceFolders::Files(Folders.Errori(), true)) {
        if (name.endsWith("_ERRORE.log")) {
            ++errorTexts;
            EXPECT_EQ(ReadBytes(Folders.InErrori(name)), "its own error text") << name.toStdString();
        }
    }
    EXPECT_EQ(errorTexts, 7);
}

TEST_F(OutgoingDispatchTest, TheQueueIdentifierNeverLeadsOutOfInviate)
{
    struct Case
    {
        const char* Name;
        std::string IdCoda;
        QString Archived;
    };
    // A name with a separator would not even be a file in Inviate: the move would fail at every
    // tick, and the invoice would be uploaded again at every tick.
    QDir().mkpath(Folders.InInviate("Q2_"));
    const std::vector<Case> cases = {
        {"empty", "", "Q1_.xml"},
        {"with separators", "/../../../fuori", "Q2__.._.._.._fuori.xml"},
    };
    Folders.Drop("Q1.xml");
    Folders.Drop("Q2.xml");
    for (const Case& c : cases)
        Backend.PushAnswer(Accepted(c.IdCoda));

    EXPECT_EQ(Tick(), "");

    for (const Case& c : cases)
        EXPECT_TRUE(QFile::exists(Folders.InInviate(c.Archived))) << c.Name;
    EXPECT_EQ(InvoiceFolders::Files(Folders.Outgoing()), QStringList());
    EXPECT_EQ(InvoiceFolders::Files(Dir.path()), QStringList());
}

TEST_F(OutgoingDispatchTest, SendInvoiceReturnsTheQueueIdentifierOrThrowsTheRefusal)
{
    Folders.Drop("S.xml");
    TOutgoingDispatch dispatch(Folders.Outgoing(), kXmlMask, Client, [](quint32) {});

    Backend.PushAnswer(Accepted("0042"));
    EXPECT_EQ(dispatch.SendInvoice("S.xml", true), "0042");
    EXPECT_EQ(Backend.Requests().back().Field("FatturaInversa"), "S");

    Backend.PushAnswer(Refused("No"));
    try {
        dispatch.SendInvoice("S.xml", false);
        ADD_FAILURE() << "no refusal";
    } catch (const EInvioException& e) {
        EXPECT_EQ(e.Message(), "Errore in invio fattura: No");
    }
    // Neither call moves the file: that is the cycle's work.
    EXPECT_EQ(InvoiceFolders::Files(Folders.Outgoing()), QStringList{"S.xml"});
}

// A log for one test, read back as entries.
class TestLog
{
public:
    explicit TestLog(const QString& path) : FPath(path)
    {
        AppLog = std::make_unique<TLogFile>(path);
        AppLog->SetWriteDelayForTesting(std::chrono::milliseconds(0));
    }
    ~TestLog() { AppLog.reset(); }
    std::vector<LogEntry> Entries(const QString& tag) const
    {
        std::vector<LogEntry> found;
        for (const LogEntry& entry : ReadLogEntries(FPath))
            if (entry.Tag == tag)
                found.push_back(entry);
        return found;
    }

private:
    QString FPath;
};

// A symbolic link at path to target, owned by the other user as if they had planted it.
void PlantOthersLink(const QString& target, const QString& path)
{
    ASSERT_TRUE(QFile::link(target, path));
    ASSERT_EQ(::lchown(QFile::encodeName(path).constData(), kOtherUser, kOtherUser), 0);
}

// A file that cannot be read now is left for a later pass, named in one warning per reason, and
// the invoices after it still go: a colleague's link to a file only we may read is never followed,
// on any hop.
TEST_F(OutgoingDispatchTest, AnInvoiceThatCannotBeReadIsSkippedAndTheOthersGo)
{
    if (!CanBecomeOtherUser())
        GTEST_SKIP() << "planting another user's link needs root";
    const QString secret = Dir.filePath("secret.ini");
    WriteBytes(secret, "Password=segreta");
    ASSERT_EQ(::chmod(QFile::encodeName(secret).constData(), 0600), 0);
    std::optional<TUniqueFd> writer;
    const struct
    {
        const char* Name;
        std::function<void(InvoiceFolders&)> Plant;
        QString Reason;
    } cases[] = {
        {"another user's link", [&](InvoiceFolders& f) { PlantOthersLink(secret, f.InOutgoing("A.xml")); },
         "collegamento simbolico di un altro utente"},
        {"our link to another user's link",
         [&](InvoiceFolders& f) {
             PlantOthersLink(secret, f.InErrori("hop"));
             ASSERT_TRUE(QFile::link(f.InErrori("hop"), f.InOutgoing("A.xml")));
         },
         "collegamento simbolico di un altro utente"},
        {"a writer holds it",
         [&](InvoiceFolders& f) {
             f.Drop("A.xml");
             writer.emplace(::open(QFile::encodeName(f.InOutgoing("A.xml")).constData(), O_WRONLY));
         },
         "un altro programma la sta scrivendo"},
        {"over the size limit",
         [&](InvoiceFolders& f) {
             f.Drop("A.xml");
             ASSERT_EQ(::truncate(QFile::encodeName(f.InOutgoing("A.xml")).constData(),
                                  VORN_MAX_INVOICE_BYTES + 1),
                       0);
         },
         QStringLiteral("più grande di %1 byte").arg(VORN_MAX_INVOICE_BYTES)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        QTemporaryDir dir;
        const TestLog log(dir.filePath("VORN_Automatic.log"));
        InvoiceFolders folders(dir.path() + "/out");
        c.Plant(folders);
        folders.Drop("B.xml");
        Backend.ClearRequests();
        Backend.PushAnswer(Accepted("1"));

        EXPECT_EQ(Tick(folders.Outgoing()), "");
        EXPECT_EQ(Tick(folders.Outgoing()), "");

        EXPECT_EQ(UploadedNames(), std::vector<std::string>{"B.xml"});
        EXPECT_EQ(InvoiceFolders::Files(folders.Inviate()), QStringList{"B_1.xml"});
        struct stat left;
        EXPECT_EQ(::lstat(QFile::encodeName(folders.InOutgoing("A.xml")).constData(), &left), 0);
        EXPECT_EQ(log.Entries("WRN"), std::vector<LogEntry>{Warning(
                                          "Fattura saltata in questo passaggio (" + c.Reason +
                                          "): " + folders.InOutgoing("A.xml"))});
        writer.reset();
    }
}

// Inviate and Errori are the program's own: a link there is used only when it is ours or the
// outgoing folder's owner's, and what the cycle opened stays what it writes into.
TEST_F(OutgoingDispatchTest, ArchiveFoldersAreUsedOnlyWhenTheyAreTheProgramsOwn)
{
    // Not a folder at all: nothing is sent that could not be archived.
    QDir(Folders.Errori()).removeRecursively();
    WriteBytes(Folders.Errori(), "not a folder");
    Folders.Drop("E.xml");
    EXPECT_EQ(Tick(), "Cartella di archivio non utilizzabile: " + Folders.Errori() + " (" +
                          SystemErrorText(ENOTDIR) + ")");
    EXPECT_TRUE(Backend.Requests().empty());
    ASSERT_TRUE(QFile::remove(Folders.Errori()) && QDir().mkdir(Folders.Errori()));
    Backend.PushAnswer(Accepted("1"));
    EXPECT_EQ(Tick(), "");

    if (!CanBecomeOtherUser())
        GTEST_SKIP() << "planting another user's link needs root";
    const struct
    {
        const char* Name;
        const char* Folder;
        bool OthersLink;
        bool FolderOfTheOther; // the outgoing folder belongs to the link's owner
    } cases[] = {
        {"another user's link as Errori", "Errori", true, false},
        {"another user's link as Inviate", "Inviate", true, false},
        {"our own link as Inviate", "Inviate", false, false},
        {"the folder owner's link as Errori", "Errori", true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        QTemporaryDir dir;
        InvoiceFolders folders(dir.path() + "/out");
        const QString archive = folders.Outgoing() + "/" + c.Folder;
        const QString elsewhere = dir.path() + "/altrove";
        ASSERT_TRUE(QDir().mkdir(elsewhere) && QDir().rmdir(archive));
        if (c.OthersLink) {
            PlantOthersLink(elsewhere, archive);
        } else {
            ASSERT_TRUE(QFile::link(elsewhere, archive));
        }
        if (c.FolderOfTheOther) {
            ASSERT_TRUE(GiveToOtherUser(folders.Outgoing()));
        }
        folders.Drop("A.xml");
        Backend.ClearRequests();
        const bool used = !c.OthersLink || c.FolderOfTheOther;
        if (used)
            Backend.PushAnswer(QString(c.Folder) == "Errori" ? Refused("No") : Accepted("1"));

        const QString failure = Tick(folders.Outgoing());

        if (!used) {
            EXPECT_EQ(failure, "Cartella di archivio non utilizzabile: " + archive +
                                   " (collegamento simbolico di un altro utente)");
            EXPECT_TRUE(Backend.Requests().empty());
            EXPECT_EQ(InvoiceFolders::Files(elsewhere, true), QStringList());
            EXPECT_EQ(InvoiceFolders::Files(folders.Outgoing()), QStringList{"A.xml"});
        } else {
            EXPECT_EQ(failure, "");
            EXPECT_EQ(InvoiceFolders::Files(elsewhere).size(), 1);
        }
    }

    // Swapped for a link once the cycle has opened it: the cycle goes on writing where it opened.
    const QString victim = Dir.filePath("victim");
    ASSERT_TRUE(QDir().mkdir(victim));
    OnFound = [&](const QString&) {
        ASSERT_TRUE(QFile::rename(Folders.Errori(), Folders.Errori() + ".old"));
        PlantOthersLink(victim, Folders.Errori());
    };
    Folders.Drop("S.xml");
    Backend.ClearRequests();
    Backend.PushAnswer(Refused("No"));
    EXPECT_EQ(Tick(), "");
    EXPECT_EQ(InvoiceFolders::Files(victim, true), QStringList());
    EXPECT_EQ(InvoiceFolders::Files(Folders.Errori() + ".old", true),
              (QStringList{"S.xml", "S.xml_ERRORE.log"}));
    ASSERT_TRUE(QFile::remove(Folders.Errori()) && QFile::rename(Folders.Errori() + ".old", Folders.Errori()));
}

// The bytes checked, recorded and uploaded are one read: a file replaced during the upload stays
// for the next pass, and Inviate gets what the backend received.
TEST_F(OutgoingDispatchTest, AFileReplacedDuringTheUploadStaysAndInviateGetsTheBytesSent)
{
    const TestLog log(Dir.filePath("VORN_Automatic.log"));
    Folders.Drop("A.xml", "<prima/>");
    OnSent = [&](const QString&) {
        Folders.Place(Folders.InOutgoing(".next"), "<seconda/>");
        ASSERT_EQ(::rename(QFile::encodeName(Folders.InOutgoing(".next")).constData(),
                           QFile::encodeName(Folders.InOutgoing("A.xml")).constData()),
                  0);
    };
    Backend.PushAnswer(Accepted("1"));
    EXPECT_EQ(Tick(), "");
    OnSent = nullptr;

    EXPECT_EQ(ReadBytes(Folders.InInviate("A_1.xml")), "<prima/>");
    EXPECT_EQ(ReadBytes(Folders.InOutgoing("A.xml")), "<seconda/>");
    EXPECT_EQ(log.Entries("WRN"), std::vector<LogEntry>{Warning(
                                      "Fattura sostituita durante l'invio: " + Folders.InOutgoing("A.xml") +
                                      "; in " + Folders.InInviate("A_1.xml") +
                                      " la versione inviata, il nuovo file resta per il prossimo invio")});

    Backend.PushAnswer(Accepted("2"));
    EXPECT_EQ(Tick(), "");
    EXPECT_EQ(ReadBytes(Folders.InInviate("A_2.xml")), "<seconda/>");
    std::vector<std::string> contents;
    for (const substitute::ReceivedRequest& request : Backend.Requests())
        contents.push_back(request.Files.at(0).Content);
    EXPECT_EQ(contents, (std::vector<std::string>{"<prima/>", "<seconda/>"}));

    // Our own link is an invoice like any other, its acceptance recorded like any other's.
    const QString target = Dir.filePath("fuori.xml");
    WriteBytes(target, "<collegata/>");
    ASSERT_TRUE(QFile::link(target, Folders.InOutgoing("L.xml")));
    Backend.PushAnswer(Accepted("3"));
    EXPECT_EQ(Tick(), "");
    EXPECT_EQ(ReadBytes(Folders.InInviate("L_3.xml")), "<collegata/>");
    EXPECT_EQ(log.Entries("ERR"), std::vector<LogEntry>());
    ASSERT_TRUE(QFile::remove(Folders.InInviate("L_3.xml")));
}

// An accepted invoice whose archive name would pass the file system's 255 bytes is archived under
// a shortened name that still carries its queue identifier.
TEST_F(OutgoingDispatchTest, ALongNameIsShortenedInInviate)
{
    Folders.Drop(QString(251, 'a') + ".xml");
    Backend.PushAnswer(Accepted("4711"));

    EXPECT_EQ(Tick(), "");
    EXPECT_EQ(Tick(), "");

    EXPECT_EQ(InvoiceFolders::Files(Folders.Inviate()), QStringList{QString(246, 'a') + "_4711.xml"});
    EXPECT_EQ(Backend.Requests().size(), 1u);
    EXPECT_FALSE(QFileInfo::exists(TDispatchJournal(Folders.Outgoing()).Path()));
}

// Every user who may write the folder may take its lock, whatever the first one's umask; and the
// holder notices when the lock file it holds is no longer the one at the lock's name.
TEST_F(OutgoingDispatchTest, TheFolderLockServesEveryoneWhoMayWriteTheFolder)
{
    const mode_t umaskBefore = ::umask(022);
    const auto restoreUmask = qScopeGuard([&] { ::umask(umaskBefore); });
    const QString lockPath = Folders.InOutgoing(kDispatchLockName);
    const QByteArray folder = QFile::encodeName(Folders.Outgoing());
    const struct
    {
        mode_t Folder;
        mode_t Lock;
    } cases[] = {{0777, 0666}, {0770, 0664}, {0755, 0644}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Folder);
        QFile::remove(lockPath);
        ASSERT_EQ(::chmod(folder.constData(), c.Folder), 0);
        EXPECT_EQ(Tick(), "");
        struct stat info;
        ASSERT_EQ(::stat(QFile::encodeName(lockPath).constData(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, c.Lock);
    }

    // A lock file of ours that an earlier run left without the bits gets them.
    ASSERT_EQ(::chmod(QFile::encodeName(lockPath).constData(), 0644), 0);
    ASSERT_EQ(::chmod(folder.constData(), 0777), 0);
    EXPECT_EQ(Tick(), "");
    EXPECT_EQ(QFileInfo(lockPath).permissions() & 0x0666, QFileDevice::Permissions(0x0666));

    // Removed during the pass: a second cycle could take the folder, so this one stops.
    const TestLog log(Dir.filePath("VORN_Automatic.log"));
    Folders.Drop("A.xml");
    Folders.Drop("B.xml");
    OnFound = [&](const QString&) { QFile::remove(lockPath); };
    Backend.PushAnswer(Accepted("1"));
    EXPECT_EQ(Tick(), "");
    OnFound = nullptr;
    EXPECT_EQ(UploadedNames(), std::vector<std::string>{"A.xml"});
    EXPECT_EQ(InvoiceFolders::Files(Folders.Outgoing()), QStringList{"B.xml"});
    EXPECT_EQ(log.Entries("WRN"),
              std::vector<LogEntry>{Warning("Invio interrotto: il blocco " + lockPath +
                                            " è stato rimosso o sostituito durante il passaggio")});
    Backend.PushAnswer(Accepted("2"));
    EXPECT_EQ(Tick(), "");

    // A lock file that another user cannot open says whose it is, its mode and what to run.
    if (!CanBecomeOtherUser())
        return;
    ASSERT_EQ(::chmod(QFile::encodeName(Dir.path()).constData(), 0755), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(lockPath).constData(), 0644), 0);
    const QString expected = "Blocco della cartella per l'invio non riuscito: " + lockPath + ". " +
                             SystemErrorText(EACCES) + " (proprietario root, permessi 0644; il proprietario esegua: chmod 0666 '" +
                             lockPath + "')";
    EXPECT_EQ(RunAsOtherUser([&] {
                  TOutgoingDispatch dispatch(Folders.Outgoing(), kXmlMask, Client, [](quint32) {});
                  try {
                      dispatch.ProcessOutgoingInvoices();
                  } catch (const EVornError& e) {
                      if (e.Message() == expected)
                          return 0;
                      fprintf(stderr, "%s\n", qPrintable(e.Message()));
                  }
                  return 1;
              }),
              0);
}

} // namespace
