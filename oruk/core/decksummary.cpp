#include "oruk/core/decksummary.hpp"

#include "oruk/core/deckreader.hpp"

#include <QFile>
#include <QFileInfo>

namespace oruk {

namespace {

bool isFileName(const QString& path) {
    if (path.trimmed().isEmpty()) return false;
    if (path.endsWith(QLatin1Char('/')) || path.contains(QChar(0))) return false;
    return !QFileInfo(path).isDir();
}

// Opens path and hands a reader to read; the file closes when this returns, also after a
// read that broke off half-way, so the next reload finds it free.
template <typename Summary, typename Read>
SummaryRead<Summary> readDeck(const QString& path, Read read) {
    SummaryRead<Summary> result;
    if (!isFileName(path)) {
        result.access = DeckAccess::InvalidPath;
        return result;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return result;
    DeckReader reader(file);
    if (read(reader, result.summary))
        result.access = DeckAccess::Read;
    else
        result.summary = Summary{};
    return result;
}

} // namespace

SummaryRead<TraitSummary> readTraitSummary(const QString& path) {
    return readDeck<TraitSummary>(path, [](DeckReader& reader, TraitSummary& summary) {
        const auto title = reader.readLine();
        const auto cases = reader.readInteger();
        if (!title || !cases) return false;
        qint64 items = 0;
        for (int type = 0; type < 4; ++type) { // binary, normal, nominal, ordinal
            const auto count = reader.readInteger();
            if (!count) return false;
            items += *count;
        }
        if (!reader.readInteger()) return false; // quadrature points, not shown
        // The end of the counts line, then the nominal and ordinal category lines.
        for (int line = 0; line < 3; ++line) {
            if (!reader.readLine()) return false;
        }
        const auto factors = reader.readInteger();
        if (!factors) return false;
        summary = {title->trimmed(), *cases, items, *factors};
        return true;
    });
}

SummaryRead<ClassSummary> readClassSummary(const QString& path) {
    return readDeck<ClassSummary>(path, [](DeckReader& reader, ClassSummary& summary) {
        const auto title = reader.readLine();
        const auto patterns = reader.readInteger();
        const auto classes = patterns ? reader.readInteger() : std::nullopt;
        const auto items = classes ? reader.readInteger() : std::nullopt;
        if (!title || !items) return false;
        summary = {title->trimmed(), *patterns, *items, *classes};
        return true;
    });
}

} // namespace oruk
