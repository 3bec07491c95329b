#pragma once

// Automatic mode's news as the tests read them: one line per event, in order.

#include "automatic/AutomaticObserver.h"

#include <string>
#include <vector>

class TRecordingObserver final : public IAutomaticObserver
{
public:
    void InvoiceFound(const QString& N) override { Add("found " + N); }
    void InvoiceSent(const QString& N, const QString& idCoda) override { Add("sent " + N + " " + idCoda); }
    void InvoiceArchived(const QString& N, const QString& archivedPath) override
    {
        Add("archived " + N + " -> " + archivedPath);
    }
    void InvoiceRefused(const QString& N, const QString& backendText) override
    {
        Add("refused " + N + ": " + backendText);
    }
    void InvoicesReceived(qsizetype count, const QString& folder) override
    {
        Add("received " + QString::number(count) + " in " + folder);
    }
    void VerdictChanged(const TVerdictNews& verdict) override
    {
        Add("verdict " + verdict.File + " " + verdict.IdCoda + " " + verdict.Code + ": " + verdict.Description);
    }
    void PassesFailing(const QString& message) override { Add("failing: " + message); }
    void PassesWorkingAgain() override { Add("working again"); }

    // The events whose line starts with prefix ("refused", "failing"...), all of them when empty.
    std::vector<std::string> Of(const std::string& prefix = {}) const
    {
        std::vector<std::string> lines;
        for (const std::string& line : Events)
            if (line.rfind(prefix, 0) == 0)
                lines.push_back(line);
        return lines;
    }

    std::vector<std::string> Events;

private:
    void Add(const QString& line) { Events.push_back(line.toStdString()); }
};
