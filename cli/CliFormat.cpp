#include "cli/CliFormat.h"

#include <QJsonDocument>
#include <algorithm>

namespace {

// One physical line per row, whatever the backend put in a text.
QString Flat(QString text)
{
    return text.replace(u'\r', u' ').replace(u'\n', u' ').replace(u'\t', u' ');
}

QString Cell(const QString& text, qsizetype maxWidth)
{
    const QString flat = Flat(text);
    if (maxWidth == kUncutCells || flat.size() <= maxWidth)
        return flat;
    return flat.left(maxWidth - 3) + QStringLiteral("...");
}

} // namespace

QString PrintableText(const QString& text, TLineBreaks lineBreaks)
{
    QString printable = text;
    for (QChar& c : printable) {
        const char16_t u = c.unicode();
        const bool control = u < 0x20 || (u >= 0x7F && u <= 0x9F);
        if (control && !(u == u'\n' && lineBreaks == TLineBreaks::Keep))
            c = QChar::ReplacementCharacter;
    }
    return printable;
}

QString FormatNameValueLines(const QStringList& names, const QStringList& values)
{
    qsizetype width = 0;
    for (const QString& name : names)
        width = std::max(width, name.size());
    QString text;
    for (qsizetype i = 0; i < names.size(); ++i)
        text += (names[i] + u':').leftJustified(width + 2) + Flat(values.value(i)) + u'\n';
    return text;
}

QString FormatTable(const QStringList& headers, const std::vector<QStringList>& rows, qsizetype maxCellWidth)
{
    std::vector<QStringList> cells;
    cells.reserve(rows.size());
    std::vector<qsizetype> widths(headers.size());
    for (qsizetype c = 0; c < headers.size(); ++c)
        widths[c] = headers[c].size();
    for (const QStringList& row : rows) {
        QStringList line;
        for (qsizetype c = 0; c < headers.size(); ++c) {
            line << Cell(row.value(c), maxCellWidth);
            widths[c] = std::max(widths[c], line.back().size());
        }
        cells.push_back(line);
    }

    const auto formatLine = [&](const QStringList& line) {
        QString text;
        for (qsizetype c = 0; c < line.size(); ++c)
            text += c + 1 < line.size() ? line[c].leftJustified(widths[c] + 2) : line[c];
        // Empty cells at the end of a line leave no blanks behind.
        while (text.endsWith(u' '))
            text.chop(1);
        return text + u'\n';
    };
    QString text = formatLine(headers);
    for (const QStringList& line : cells)
        text += formatLine(line);
    return text;
}

QString JsonText(const QJsonObject& object)
{
    return QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Indented));
}

QString JsonText(const QJsonArray& array)
{
    return QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Indented));
}
