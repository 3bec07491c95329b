#pragma once

// How vorn-cli shows the backend's records: aligned text tables for a person, or JSON objects
// that carry every field under the backend's member names.

#include "json/Record.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

// What vorn-cli prints goes through this (CliCommand's Print): every C0 and C1 control character
// and DEL becomes U+FFFD, so that no backend text or file name can move the cursor, rewrite what
// is on the screen or forge a line. Line feeds stay where the output is whole lines of its own.
enum class TLineBreaks
{
    Keep,
    Replace,
};
QString PrintableText(const QString& text, TLineBreaks lineBreaks);

// One "name: value" line each, the values aligned and each kept on its line.
QString FormatNameValueLines(const QStringList& names, const QStringList& values);

// A table with a header line and one line per row; cells longer than maxCellWidth are cut with
// "...", unless it is kUncutCells.
constexpr qsizetype kUncutCells = 0;
QString FormatTable(const QStringList& headers, const std::vector<QStringList>& rows,
                    qsizetype maxCellWidth = 40);

// Indented JSON text, as QJsonDocument writes it.
QString JsonText(const QJsonObject& object);
QString JsonText(const QJsonArray& array);

// Every text field of a record, named like the backend's member (the field name without "F").
template <class T> QJsonObject RecordToJson(const T& record)
{
    QJsonObject object;
    for (const TRecordField<T>& field : T::FieldTable())
        object.insert(QString(field.Name.sliced(1)), record.*field.Member);
    return object;
}

template <class T> QJsonArray RecordsToJson(const std::vector<std::unique_ptr<T>>& records)
{
    QJsonArray array;
    for (const auto& record : records)
        array.append(RecordToJson(*record));
    return array;
}

// One "Name: value" line per field, the values aligned.
template <class T> QString RecordToText(const T& record)
{
    QStringList names;
    QStringList values;
    for (const TRecordField<T>& field : T::FieldTable()) {
        names << QString(field.Name.sliced(1));
        values << record.*field.Member;
    }
    return FormatNameValueLines(names, values);
}

// A table of chosen fields of the records, in list order; the names are the backend's member names.
template <class T>
QString RecordsToTable(const std::vector<std::unique_ptr<T>>& records, const QStringList& fieldNames)
{
    std::vector<QString T::*> columns;
    for (const QString& name : fieldNames)
        for (const TRecordField<T>& field : T::FieldTable())
            if (field.Name.sliced(1) == name)
                columns.push_back(field.Member);
    Q_ASSERT(columns.size() == static_cast<std::size_t>(fieldNames.size()));

    std::vector<QStringList> rows;
    rows.reserve(records.size());
    for (const auto& record : records) {
        QStringList row;
        for (QString T::*member : columns)
            row << (*record).*member;
        rows.push_back(row);
    }
    return FormatTable(fieldNames, rows);
}
