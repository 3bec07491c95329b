// The rule for the desktop's word on the check timer's passes, as state transitions.

#include "dispatch/CycleHealth.h"

#include <QString>
#include <QStringList>
#include <gtest/gtest.h>

namespace {

// Each row: the passes in order ("F" failed; a number: ended with that many invoices answered)
// and what each one says ("!" failing, "+" working again, "." nothing).
TEST(CycleHealthTest, OneWordAtTheStartOfARunOfFailuresAndOneAtItsEnd)
{
    const struct
    {
        const char* Passes;
        const char* Notices;
    } cases[] = {
        {"F F F 2", "! . . +"},
        {"1 0 3", ". . ."},
        // Nothing to send proves nothing: the backend may still be down.
        {"F 0 0 1", "! . . +"},
        {"F 1 F F 1 1", "! + ! . + ."},
        {"0 F", ". !"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Passes);
        TCycleHealth health;
        QStringList notices;
        for (const QString& pass : QString::fromLatin1(c.Passes).split(u' ')) {
            const TCycleHealth::TNotice notice =
                pass == u'F' ? health.PassFailed() : health.PassEnded(pass.toInt());
            notices << (notice == TCycleHealth::TNotice::Failing        ? QStringLiteral("!")
                        : notice == TCycleHealth::TNotice::WorkingAgain ? QStringLiteral("+")
                                                                        : QStringLiteral("."));
        }
        EXPECT_EQ(notices.join(u' ').toStdString(), c.Notices);
    }
}

} // namespace
