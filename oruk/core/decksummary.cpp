#include "oruk/core/decksummary.hpp"

#include "fixedio/freeread.hpp"
#include "oruk/core/readermessage.hpp"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <string>
#include <string_view>
#include <vector>

namespace oruk {

namespace {

bool isFileName(const QString& path) {
    if (path.trimmed().isEmpty()) return false;
    if (path.endsWith(QLatin1Char('/')) || path.contains(QChar(0))) return false;
    return !QFileInfo(path).isDir();
}

// Text of a deck line: UTF-8 when it is valid UTF-8, otherwise Latin-1 (decks made on Windows).
QString lineText(const std::string& bytes) {
    const QByteArray line = QByteArray::fromStdString(bytes);
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8.decode(line);
    return utf8.hasError() ? QString::fromLatin1(line) : text;
}

// The number of values on a line, split as the reader splits them: at blanks, tabs and commas.
qsizetype valueCount(std::string_view line) {
    qsizetype count = 0;
    bool inValue = false;
    for (char c : line) {
        const bool separator = c == ' ' || c == '\t' || c == ',';
        if (!separator && !inValue) ++count;
        inValue = !separator;
    }
    return count;
}

// How many of the tokens, from the first on, come from the first token's line.
std::size_t onFirstLine(const std::vector<fixedio::Token>& tokens) {
    std::size_t n = 0;
    while (n < tokens.size() && tokens[n].line == tokens.front().line) ++n;
    return n;
}

// The quadrature points a latent trait deck may ask for: the last of its six counts.
bool isQuadratureCount(std::string_view token) {
    for (std::string_view allowed : {"8", "12", "16", "24", "32", "48"})
        if (token == allowed) return true;
    return false;
}

std::size_t countOf(int n) {
    return n > 0 ? static_cast<std::size_t>(n) : 0;
}

// Reads the deck at path with read, which fills in the summary and returns an empty text, or
// says why the deck is the other estimator's; kind names the deck in messages.
template <typename Summary, typename Read>
SummaryRead<Summary> readDeck(const QString& path, const QString& kind, Read read) {
    SummaryRead<Summary> result;
    if (!isFileName(path)) {
        result.access = DeckAccess::InvalidPath;
        return result;
    }
    const QString name = QFileInfo(path).fileName();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        result.problem = QStringLiteral("%1 cannot be read: %2.").arg(name, file.errorString());
        return result;
    }
    const std::string label = name.toStdString();
    const QString notThisKind = QStringLiteral("%1 does not read as a %2 deck: ").arg(name, kind);
    try {
        fixedio::FreeReader reader(kReaderProgram, label, file.readAll().toStdString());
        if (reader.atEnd()) {
            result.problem = notThisKind + QStringLiteral("it is empty.");
            return result;
        }
        const QString otherKind = read(reader, result.summary);
        if (otherKind.isEmpty()) {
            result.access = DeckAccess::Read;
            return result;
        }
        result.access = DeckAccess::OtherKind;
        result.problem = name + QLatin1Char(' ') + otherKind;
    } catch (const latent::InputError& error) {
        // The reader names the file and the line; the file is named already.
        result.problem = notThisKind + readerMessage(error, label + ' ') + QLatin1Char('.');
    }
    result.summary = Summary{};
    return result;
}

} // namespace

SummaryRead<TraitSummary> readTraitSummary(const QString& path) {
    return readDeck<TraitSummary>(
        path, QStringLiteral("latent trait"),
        [](fixedio::FreeReader& reader, TraitSummary& summary) -> QString {
            const std::string title = reader.readLine();
            const auto counts = reader.readValues(6, "values of the counts record");
            // A latent class deck has its ten control values on that line.
            const qsizetype onLine = valueCount(reader.lastLine());
            if (onFirstLine(counts) == counts.size() && onLine >= 10)
                return QStringLiteral("looks like a latent class deck (its second line holds %1 "
                                      "numbers, as NPAT NCLASS NITEM ... do); choose it in the "
                                      "Latent Class Model tab.")
                    .arg(onLine);
            int n[6];
            for (std::size_t i = 0; i < 6; ++i) n[i] = reader.toInt(counts[i]);
            // A line each, even when they list nothing.
            reader.readInts(countOf(n[3]), "nominal category counts");
            reader.readInts(countOf(n[4]), "ordinal category counts");
            const auto control = reader.readValues(6, "values of the control record");
            summary.title = lineText(title).trimmed();
            summary.cases = n[0];
            summary.items = qint64(n[1]) + n[2] + n[3] + n[4];
            summary.factors = reader.toInt(control[0]);
            summary.maxCycles = qMax(0, reader.toInt(control[2]));
            return {};
        });
}

SummaryRead<ClassSummary> readClassSummary(const QString& path) {
    return readDeck<ClassSummary>(
        path, QStringLiteral("latent class"),
        [](fixedio::FreeReader& reader, ClassSummary& summary) -> QString {
            const std::string title = reader.readLine();
            const auto control = reader.readValues(10, "control values");
            // A latent trait deck has its six counts on that line, the last the quadrature
            // points.
            if (onFirstLine(control) == 6 && isQuadratureCount(control[5].text))
                return QStringLiteral("looks like a latent trait deck (its second line holds the "
                                      "six counts NCASE NB NN NC NO NQ); choose it in the "
                                      "Generalized Latent Model tab.");
            int n[10];
            for (std::size_t i = 0; i < 10; ++i) n[i] = reader.toInt(control[i]);
            summary.title = lineText(title).trimmed();
            summary.patterns = n[0];
            summary.classes = n[1];
            summary.items = n[2];
            summary.patternInput = n[3] != 0;
            const auto limits = reader.readValues(3, "values TOL, MAXIT, NSIM");
            reader.toReal(limits[0]); // refused by the estimator when it is no number
            const int maxCycles = reader.toInt(limits[1]);
            summary.maxCycles = maxCycles == 0 ? 3000 : qMax(0, maxCycles);
            return {};
        });
}

qint64 deckMaxCycles(Estimator estimator, const QString& path) {
    return estimator == Estimator::Trait ? readTraitSummary(path).summary.maxCycles
                                         : readClassSummary(path).summary.maxCycles;
}

} // namespace oruk
