#include "oruk/core/csvtext.hpp"

#include <QFile>
#include <QFileInfo>

namespace oruk {

namespace {

// The header is looked for in the file's first part; a header longer than this is not one.
constexpr qint64 kHeaderBytes = 1 << 20;

QString fieldText(const QByteArray& bytes) {
    return QString::fromUtf8(bytes).trimmed();
}

} // namespace

CsvRecords parseCsv(QByteArrayView text, const QString& fileName, qsizetype maxRecords) {
    CsvRecords result;
    if (text.startsWith("\xEF\xBB\xBF")) text = text.sliced(3);
    qsizetype line = 1, recordLine = 1;
    QStringList record;
    QByteArray field;
    bool quoted = false, inQuotes = false, afterQuote = false, fieldStarted = false;
    auto fail = [&](qsizetype at, const QString& what) {
        result.problem = QStringLiteral("%1 line %2: %3").arg(fileName).arg(at).arg(what);
        return result;
    };
    auto endField = [&] {
        record << fieldText(field);
        field.clear();
        quoted = afterQuote = fieldStarted = false;
    };
    auto endRecord = [&] {
        // A line of nothing but blanks is a blank line, not a record of one empty field.
        const bool blank = record.isEmpty() && !quoted && field.trimmed().isEmpty();
        if (!blank) {
            endField();
            result.records.push_back(record);
        }
        record.clear();
        field.clear();
        quoted = afterQuote = fieldStarted = false;
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (inQuotes) {
            if (c == '"') {
                if (i + 1 < text.size() && text[i + 1] == '"') {
                    field += '"';
                    ++i;
                } else {
                    inQuotes = false;
                    afterQuote = true;
                }
            } else {
                if (c == '\n') ++line;
                field += c;
            }
            continue;
        }
        if (c == '\r') {
            if (i + 1 < text.size() && text[i + 1] == '\n') continue;
            return fail(line, QStringLiteral("a carriage return ends a line without a line feed "
                                             "(old Mac line ends); save the file with LF or CRLF"));
        }
        if (c == '\n') {
            endRecord();
            ++line;
            recordLine = line;
            if (maxRecords > 0 && qsizetype(result.records.size()) == maxRecords) return result;
            continue;
        }
        if (c == ',') {
            endField();
            continue;
        }
        if (c == '"') {
            if (fieldStarted && !field.trimmed().isEmpty())
                return fail(line, QStringLiteral("a quote inside an unquoted field"));
            field.clear();
            inQuotes = quoted = fieldStarted = true;
            continue;
        }
        if (afterQuote && c != ' ' && c != '\t')
            return fail(line, QStringLiteral("text after the closing quote of a field"));
        if (!afterQuote) field += c;
        fieldStarted = true;
    }
    if (inQuotes) return fail(recordLine, QStringLiteral("a quoted field is never closed"));
    endRecord();
    if (maxRecords > 0 && qsizetype(result.records.size()) > maxRecords)
        result.records.resize(maxRecords);
    return result;
}

CsvHeader readCsvHeader(const QString& path) {
    CsvHeader header;
    const QString name = QFileInfo(path).fileName();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        header.problem = QStringLiteral("%1 cannot be read: %2").arg(path, file.errorString());
        return header;
    }
    const QByteArray start = file.read(kHeaderBytes);
    const CsvRecords read = parseCsv(start, name, 1);
    if (!read.problem.isEmpty() && (file.atEnd() || !read.records.empty())) {
        header.problem = read.problem;
        return header;
    }
    if (read.records.empty()) {
        header.problem = file.atEnd() ? QStringLiteral("%1 has no header row").arg(name)
                                      : QStringLiteral("%1: no header row within its first %2 "
                                                       "bytes")
                                            .arg(name)
                                            .arg(kHeaderBytes);
        return header;
    }
    header.names = read.records.front();
    for (qsizetype i = 0; i < header.names.size(); ++i) {
        if (header.names[i].isEmpty()) {
            header.problem = QStringLiteral("%1 line 1, column %2: a column name may not be empty")
                                 .arg(name)
                                 .arg(i + 1);
            header.names.clear();
            return header;
        }
    }
    return header;
}

} // namespace oruk
