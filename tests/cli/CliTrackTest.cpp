// The queue identifier read back from an archive name, as the dispatch writes it:
// base + "_" + identifier + extension.

#include "dispatch/ArchiveName.h"

#include <gtest/gtest.h>

namespace {

TEST(CliTrackTest, TheQueueIdentifierIsBetweenTheLastUnderscoreAndTheExtension)
{
    const struct
    {
        const char* Name;
        const char* IdCoda;
    } cases[] = {
        {"IT01234567890_00001_17.xml", "17"},
        {"IT01234567890_00001.xml_17.p7m", "17"}, // a signed invoice: its base keeps ".xml"
        {"IT01234567890_00001_17", "17"},
        {"fattura_a.b_17.xml", "17"},
        {"IT01234567890.xml", ""},
        {"IT01234567890_.xml", ""},
        {"_.xml", ""},
        {"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(QueueIdentifierOfArchiveName(QString::fromUtf8(c.Name)), QString::fromUtf8(c.IdCoda));
    }
}

} // namespace
