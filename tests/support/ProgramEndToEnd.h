#pragma once

// The fixture of the tests that run one of our dispatching programs (the window program, the
// agent) as a process of its own against the substitute backend, which the test serves on the
// build's service port: a working directory, the outgoing folder with its archive, the process.
// After every test the program is gone and every invoice is in exactly one place.

#include "tests/support/EndToEnd.h"
#include "tests/support/InvoiceFolders.h"
#include "tests/support/Substitute.h"

#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

class TProgramEndToEndTest : public testing::Test
{
protected:
    void SetUp() override
    {
        if (const QString reason = EndToEndSkipReason(); !reason.isEmpty())
            GTEST_SKIP() << reason.toStdString();
        Backend = std::make_unique<substitute::Backend>(SubstituteOptions(EndToEndPki(), EndToEndPort()));
        Folders = std::make_unique<InvoiceFolders>(Dir.path() + "/da inviare");
    }

    void TearDown() override
    {
        if (Process && Process->state() != QProcess::NotRunning) {
            Process->kill();
            Process->waitForFinished(10000);
        }
        if (Folders)
            Folders->ExpectEveryInvoiceInExactlyOnePlace();
    }

    QTemporaryDir Dir;
    std::unique_ptr<substitute::Backend> Backend;
    std::unique_ptr<InvoiceFolders> Folders;
    std::unique_ptr<QProcess> Process;
};
