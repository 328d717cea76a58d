// A small reader of comma-separated text for the front end: the header row of a data file
// (the estimators read the data themselves) and the per-case results files. Fields in double
// quotes may hold commas, line breaks and doubled quotes; a UTF-8 byte-order mark is skipped;
// lines end in LF or CRLF; blank lines are skipped.
#pragma once

#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <vector>

namespace oruk {

struct CsvRecords {
    std::vector<QStringList> records;
    QString problem; // names the file, the line and what was wrong; empty when all was read
};

// The records of text, at most maxRecords of them (0: all). Fields are trimmed of blanks.
CsvRecords parseCsv(QByteArrayView text, const QString& fileName, qsizetype maxRecords = 0);

struct CsvHeader {
    QStringList names;
    QString problem;
};

// The header row of the CSV file at path: its column names, none of them empty.
CsvHeader readCsvHeader(const QString& path);

} // namespace oruk
