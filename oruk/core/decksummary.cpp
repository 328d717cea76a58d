#include "oruk/core/decksummary.hpp"

#include "oruk/core/deckreader.hpp"

#include <QFile>
#include <QFileInfo>

#include <vector>

namespace oruk {

namespace {

// Quadrature points a latent trait deck may ask for: the last of its six counts.
bool isQuadrature(qint64 points) {
    for (qint64 allowed : {8, 12, 16, 24, 32, 48})
        if (points == allowed) return true;
    return false;
}

bool isFileName(const QString& path) {
    if (path.trimmed().isEmpty()) return false;
    if (path.endsWith(QLatin1Char('/')) || path.contains(QChar(0))) return false;
    return !QFileInfo(path).isDir();
}

// The whole numbers of the next line with values, read as far as they are whole numbers;
// stoppedAtText tells that a value that is not one ended them.
struct LineValues {
    std::vector<qint64> values;
    bool stoppedAtText = false;
};

LineValues valuesOfLine(DeckReader& reader) {
    LineValues line;
    for (bool first = true; first || reader.valuesLeftOnLine() > 0; first = false) {
        const auto next = reader.readInteger();
        if (!next) {
            line.stoppedAtText = true; // a word, or the end of the file
            break;
        }
        line.values.push_back(*next);
    }
    return line;
}

// Opens path and hands a reader to read, which returns an empty text or what is wrong; the
// file closes when this returns, also after a read that broke off half-way.
template <typename Summary, typename Read>
SummaryRead<Summary> readDeck(const QString& path, Read read) {
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
    DeckReader reader(file);
    bool otherKind = false;
    const QString problem = read(reader, result.summary, otherKind);
    if (problem.isEmpty()) {
        result.access = DeckAccess::Read;
        return result;
    }
    result.summary = Summary{};
    result.access = otherKind ? DeckAccess::OtherKind : DeckAccess::Unreadable;
    result.problem = name + QLatin1Char(' ') + problem;
    return result;
}

const QString kNotTrait = QStringLiteral("does not read as a latent trait deck: ");
const QString kNotClass = QStringLiteral("does not read as a latent class deck: ");

} // namespace

SummaryRead<TraitSummary> readTraitSummary(const QString& path) {
    return readDeck<TraitSummary>(
        path, [](DeckReader& reader, TraitSummary& summary, bool& otherKind) -> QString {
            const auto title = reader.readLine();
            if (!title) return kNotTrait + QStringLiteral("it is empty.");
            const LineValues line = valuesOfLine(reader);
            std::vector<qint64> counts = line.values;
            if (counts.size() >= 10) {
                otherKind = true;
                return QStringLiteral(
                           "looks like a latent class deck (its second line holds %1 "
                           "numbers, as NPAT NCLASS NITEM ... do); choose it in the Latent "
                           "Class Model tab.")
                    .arg(counts.size());
            }
            // The six counts may go on over the next lines.
            while (!line.stoppedAtText && counts.size() < 6) {
                const auto more = reader.readInteger();
                if (!more) break;
                counts.push_back(*more);
            }
            if (counts.size() < 6)
                return kNotTrait + QStringLiteral("its second record needs the six whole numbers "
                                                  "NCASE NB NN NC NO NQ.");
            const qint64 items = counts[1] + counts[2] + counts[3] + counts[4];
            // The end of the counts line, then the nominal and ordinal category lines.
            for (int record = 0; record < 3; ++record) {
                if (!reader.readLine())
                    return kNotTrait + QStringLiteral("it ends before its fifth record "
                                                      "(NF INIT MAXIT ...).");
            }
            const auto factors = reader.readInteger();
            if (!factors)
                return kNotTrait + QStringLiteral("its fifth record does not start with the number "
                                                  "of factors.");
            qint64 maxCycles = 0;
            // MAXIT only from the same line: a short record must not borrow the first case's
            // values.
            if (reader.valuesLeftOnLine() >= 2 && reader.readInteger()) {
                maxCycles = reader.readInteger().value_or(0);
            }
            summary = {title->trimmed(), counts[0], items, *factors, qMax<qint64>(0, maxCycles)};
            return {};
        });
}

SummaryRead<ClassSummary> readClassSummary(const QString& path) {
    return readDeck<ClassSummary>(
        path, [](DeckReader& reader, ClassSummary& summary, bool& otherKind) -> QString {
            const auto title = reader.readLine();
            if (!title) return kNotClass + QStringLiteral("it is empty.");
            const LineValues line = valuesOfLine(reader);
            std::vector<qint64> control = line.values;
            if (control.size() == 6 && isQuadrature(control[5])) {
                otherKind = true;
                return QStringLiteral(
                    "looks like a latent trait deck (its second line holds the six "
                    "counts NCASE NB NN NC NO NQ); choose it in the Generalized "
                    "Latent Model tab.");
            }
            while (!line.stoppedAtText &&
                   control.size() < 10) { // the control values may go on over the next lines
                const auto more = reader.readInteger();
                if (!more) break;
                control.push_back(*more);
            }
            if (control.size() < 3)
                return kNotClass + QStringLiteral("its second record needs the whole numbers "
                                                  "NPAT NCLASS NITEM ....");
            summary = {title->trimmed(), control[0], control[2], control[1], false, 0};
            if (control.size() < 10) return {}; // enough to show; the limits are not known
            summary.patternInput = control[3] != 0;
            reader.readLine(); // the end of the control record
            if (reader.readNumber()) {
                if (const auto maxit = reader.readInteger())
                    summary.maxCycles = *maxit == 0 ? 3000 : qMax<qint64>(0, *maxit);
            }
            return {};
        });
}

qint64 deckMaxCycles(Estimator estimator, const QString& path) {
    return estimator == Estimator::Trait ? readTraitSummary(path).summary.maxCycles
                                         : readClassSummary(path).summary.maxCycles;
}

} // namespace oruk
