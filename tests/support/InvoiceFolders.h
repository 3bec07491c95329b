#pragma once

// The outgoing folder with its two archive folders, as the dispatch tests and the end-to-end tests
// of the program see it: files dropped with contents of their own, and the one rule the users rely
// on, checked after every tick: every invoice file is in exactly one of outgoing / Inviate / Errori,
// byte for byte as dropped.

#include "tests/support/Files.h"
#include "tests/support/Print.h"

#include <QByteArray>
#include <QDir>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <gtest/gtest.h>
#include <map>

// A small invoice-like document whose bytes differ for every name.
inline QByteArray SampleInvoice(const QString& name)
{
    return QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<p:FatturaElettronica xmlns:p=\"urn:test\" versione=\"FPR12\">"
                      "<Numero>") +
           name.toUtf8() + QByteArray("</Numero></p:FatturaElettronica>\n");
}

class InvoiceFolders
{
public:
    explicit InvoiceFolders(QString outgoing) : FOutgoing(std::move(outgoing))
    {
        QDir().mkpath(FOutgoing);
        QDir().mkpath(Inviate());
        QDir().mkpath(Errori());
    }

    const QString& Outgoing() const { return FOutgoing; }
    QString Inviate() const { return FOutgoing + "/Inviate"; }
    QString Errori() const { return FOutgoing + "/Errori"; }
    QString InOutgoing(const QString& name) const { return FOutgoing + "/" + name; }
    QString InInviate(const QString& name) const { return Inviate() + "/" + name; }
    QString InErrori(const QString& name) const { return Errori() + "/" + name; }

    // An invoice file (or any file the cycle must keep) dropped into the outgoing folder.
    void Drop(const QString& name, const QByteArray& bytes)
    {
        WriteBytes(InOutgoing(name), bytes);
        FTracked.emplace(name, bytes);
    }
    void Drop(const QString& name) { Drop(name, SampleInvoice(name)); }

    // A file that an earlier run archived; tracked like the dropped ones.
    void Place(const QString& path, const QByteArray& bytes)
    {
        WriteBytes(path, bytes);
        FTracked.emplace(path, bytes);
    }

    // Whether a name is an error text, or the hidden temporary ".<text's name>.<random>" that a
    // kill may leave behind while it is being written (the invoice is then still in the outgoing
    // folder).
    static bool IsErrorText(const QString& name)
    {
        return name.endsWith("_ERRORE.log") || (name.startsWith('.') && name.contains("_ERRORE.log."));
    }

    // The dispatch cycle's own lock and record of accepted uploads, kept in the outgoing folder, and
    // the temporary a kill may leave while the record is being replaced.
    static bool IsDispatchBookkeeping(const QString& name)
    {
        return name.startsWith(".vorn-dispatch.") || name.startsWith("..vorn-dispatch.journal.");
    }

    // Whether the outgoing folder holds no invoice file (.xml, .p7m) any more.
    bool NoInvoiceLeft() const
    {
        // Extensions match without regard to case, as the cycle's do ("rotta.XML" is an invoice).
        for (const QString& name : Files(FOutgoing))
            if (name.endsWith(".xml", Qt::CaseInsensitive) || name.endsWith(".p7m", Qt::CaseInsensitive))
                return false;
        return true;
    }

    // Names of the files in a folder, sorted; error text files left out unless asked for, and the
    // cycle's bookkeeping always.
    static QStringList Files(const QString& folder, bool withErrorTexts = false)
    {
        QStringList names = QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
        names.erase(std::remove_if(names.begin(), names.end(), IsDispatchBookkeeping), names.end());
        if (!withErrorTexts)
            names.erase(std::remove_if(names.begin(), names.end(), IsErrorText), names.end());
        return names;
    }

    // The rule: each tracked file's bytes are found exactly once in the three folders, and every
    // file there (error texts aside) is one of them.
    void ExpectEveryInvoiceInExactlyOnePlace() const
    {
        std::map<QByteArray, int> found;
        for (const QString& folder : {FOutgoing, Inviate(), Errori()})
            for (const QString& name : Files(folder)) {
                const QByteArray bytes = ReadBytes(folder + "/" + name);
                ++found[bytes];
                bool known = false;
                for (const auto& [tracked, trackedBytes] : FTracked)
                    known = known || trackedBytes == bytes;
                EXPECT_TRUE(known) << "a file nobody dropped, or a mangled one: "
                                   << (folder + "/" + name).toStdString();
            }
        for (const auto& [tracked, bytes] : FTracked)
            EXPECT_EQ(found[bytes], 1) << tracked.toStdString() << " is not in exactly one place";
    }

private:
    QString FOutgoing;
    std::multimap<QString, QByteArray> FTracked;
};
