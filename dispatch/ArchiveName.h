#pragma once

// The names of archived invoices, read back.

#include <QString>

// The queue identifier an archive name carries: the text between its last "_" and its extension
// (the last "." after that "_"). Empty when the name carries none.
QString QueueIdentifierOfArchiveName(const QString& name);
