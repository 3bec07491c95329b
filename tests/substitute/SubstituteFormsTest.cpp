// The substitute reads request bodies and upload files the way the backend does; a fault here
// would make client tests pass or fail for the wrong reason.

#include "substitute/SubstituteForms.h"
#include "substitute/SubstituteDocuments.h"

#include <gtest/gtest.h>

#include <vector>

namespace substitute {
namespace {

TEST(SubstituteForms, UrlEncodedPairsAreDecodedInOrder)
{
    const FieldList fields =
        ParseUrlEncoded("QELT_REQ=FAEGetStatusbyId&idcoda=A+B%26C&empty=&x=a%3Db&bad=%4&%C3%A8=1");
    const FieldList expected = {{"QELT_REQ", "FAEGetStatusbyId"},
                                {"idcoda", "A B&C"},
                                {"empty", ""},
                                {"x", "a=b"},
                                {"bad", "%4"},
                                {"\xC3\xA8", "1"}};
    EXPECT_EQ(fields, expected);
    EXPECT_TRUE(ParseUrlEncoded("").empty());
}

TEST(SubstituteForms, HeaderParametersKeepQuotedTextUnchanged)
{
    const std::string disposition = R"(form-data; name="PathFileXml"; filename="a;b%20c è.xml")";
    EXPECT_EQ(HeaderParameter(disposition, "name"), "PathFileXml");
    EXPECT_EQ(HeaderParameter(disposition, "FILENAME"), "a;b%20c è.xml");
    EXPECT_FALSE(HasHeaderParameter(R"(form-data; name="x")", "filename"));
    EXPECT_TRUE(HasHeaderParameter(R"(form-data; name="x"; filename="")", "filename"));
    EXPECT_EQ(HeaderParameter("multipart/form-data; boundary=----VORN0000ABCD", "boundary"),
              "----VORN0000ABCD");
}

TEST(SubstituteForms, MultipartSplitsTextAndFileParts)
{
    const std::string body = "--XyZ\r\n"
                             "Content-Disposition: form-data; name=\"QELT_REQ\"\r\n\r\n"
                             "FAESendXml\r\n"
                             "--XyZ\r\n"
                             "Content-Disposition: form-data; name=\"PathFileXml\"; filename=\"f.xml\"\r\n"
                             "Content-Type: application/xml\r\n\r\n"
                             "<a>\r\n--X</a>\r\n"
                             "--XyZ\r\n"
                             "Content-Disposition: form-data; name=\"Vuoto\"; filename=\"\"\r\n\r\n"
                             "\r\n"
                             "--XyZ--\r\n";
    const auto parts = ParseMultipart(body, "XyZ");
    ASSERT_EQ(parts.size(), 3u);
    EXPECT_EQ(parts[0].Name, "QELT_REQ");
    EXPECT_FALSE(parts[0].HasFileName);
    EXPECT_EQ(parts[0].Content, "FAESendXml");
    EXPECT_EQ(parts[1].FileName, "f.xml");
    EXPECT_EQ(parts[1].ContentType, "application/xml");
    EXPECT_EQ(parts[1].Content, "<a>\r\n--X</a>"); // a near-boundary inside the content is content
    EXPECT_TRUE(parts[2].HasFileName);
    EXPECT_EQ(parts[2].Content, "");
}

TEST(SubstituteForms, BrokenMultipartIsRefused)
{
    const char* const bodies[] = {
        "no boundary at all",
        "--XyZ\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\nnever closed",
        "--XyZ\r\nContent-Disposition: form-data; name=\"a\"",
        "--XyZ garbage\r\n",
    };
    for (const char* body : bodies) {
        SCOPED_TRACE(body);
        EXPECT_THROW(ParseMultipart(body, "XyZ"), std::runtime_error);
    }
}

TEST(SubstituteForms, Base64RoundTripsAndRejectsForeignText)
{
    for (const std::string& bytes :
         std::vector<std::string>{"", "f", "fo", "foo", "foob", std::string("\0\xff\x80", 3)}) {
        std::string decoded;
        ASSERT_TRUE(Base64Decode(Base64Encode(bytes), decoded));
        EXPECT_EQ(decoded, bytes);
    }
    EXPECT_EQ(Base64Encode("utente@db:segreta"), "dXRlbnRlQGRiOnNlZ3JldGE=");
    std::string ignored;
    for (const char* bad : {"abc", "ab=c", "a===", "ab\ncd==", "ab-_"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(Base64Decode(bad, ignored));
    }
}

struct DerCase
{
    const char* What;
    std::string Bytes;
    bool Accepted;
};

TEST(SubstituteDocuments, OnlyAWholeDerSequenceIsAnEnvelope)
{
    const std::string longContent(200, 'x');
    const DerCase cases[] = {
        {"short form", std::string("\x30\x03\x02\x01\x00", 5), true},
        {"long form", std::string("\x30\x81\xC8", 3) + longContent, true},
        {"trailing byte", std::string("\x30\x03\x02\x01\x00\x00", 6), false},
        {"missing byte", std::string("\x30\x04\x02\x01\x00", 5), false},
        {"indefinite length (BER)", std::string("\x30\x80\x02\x01\x00\x00\x00", 7), false},
        {"long form for a short length", std::string("\x30\x81\x03\x02\x01\x00", 6), false},
        {"not a SEQUENCE", std::string("\x31\x03\x02\x01\x00", 5), false},
        {"an XML file", "<?xml version=\"1.0\"?><a/>", false},
        {"one byte", std::string("\x30", 1), false},
        {"truncated length field", std::string("\x30\x82\x01", 3), false},
    };
    for (const DerCase& c : cases) {
        SCOPED_TRACE(c.What);
        EXPECT_EQ(DerEnvelopeError(c.Bytes).empty(), c.Accepted) << DerEnvelopeError(c.Bytes);
    }
}

TEST(SubstituteDocuments, XmlMustBeWellFormed)
{
    EXPECT_EQ(XmlWellFormedError("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<a><b>è</b></a>\n"), "");
    for (const char* bad : {"<a><b></a>", "<a>", "not xml", "<a/><b/>", "   "}) {
        SCOPED_TRACE(bad);
        EXPECT_NE(XmlWellFormedError(bad), "");
    }
}

TEST(SubstituteDocuments, SummaryComesFromTheInvoice)
{
    const InvoiceSummary summary = ReadInvoiceSummary(
        "<?xml version=\"1.0\"?><p:FatturaElettronica xmlns:p=\"urn:x\"><FatturaElettronicaHeader>"
        "<CedentePrestatore><DatiAnagrafici><IdFiscaleIVA><IdCodice>01234567890</IdCodice></IdFiscaleIVA>"
        "<Anagrafica><Denominazione>Alfa "
        "Srl</Denominazione></Anagrafica></DatiAnagrafici></CedentePrestatore>"
        "<CessionarioCommittente><DatiAnagrafici><CodiceFiscale>RSSMRA80A01H501U</CodiceFiscale>"
        "</DatiAnagrafici></CessionarioCommittente></FatturaElettronicaHeader><FatturaElettronicaBody>"
        "<DatiGenerali><DatiGeneraliDocumento><TipoDocumento>TD01</TipoDocumento><Data>2024-03-05</Data>"
        "<Numero>7/A</Numero><ImportoTotaleDocumento>122.00</ImportoTotaleDocumento></DatiGeneraliDocumento>"
        "</DatiGenerali></FatturaElettronicaBody></p:FatturaElettronica>");
    EXPECT_EQ(summary.CedentePartitaIva, "01234567890");
    EXPECT_EQ(summary.CedenteAnagrafica, "Alfa Srl");
    EXPECT_EQ(summary.CessionarioCodiceFiscale, "RSSMRA80A01H501U");
    EXPECT_EQ(summary.CessionarioPartitaIva, "");
    EXPECT_EQ(summary.FatturaData, "2024-03-05");
    EXPECT_EQ(summary.FatturaNumero, "7/A");
    EXPECT_EQ(summary.FatturaImporto, "122.00");
    EXPECT_EQ(summary.TipoDocumento, "TD01");
}

} // namespace
} // namespace substitute
