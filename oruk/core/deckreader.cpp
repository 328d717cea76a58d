#include "oruk/core/deckreader.hpp"

#include <QStringDecoder>

#include <cmath>

namespace oruk {

namespace {

bool isSeparator(char c) {
    return c == ' ' || c == '\t' || c == ',';
}

std::optional<qint64> wholeNumber(QByteArray token) {
    bool ok = false;
    const qint64 integer = token.toLongLong(&ok);
    if (ok) return integer;
    // Decks written by Fortran programs may use a D exponent ("1.0D0").
    token.replace('D', 'E').replace('d', 'e');
    const double value = token.toDouble(&ok);
    if (!ok || !std::isfinite(value) || value != std::trunc(value)) return std::nullopt;
    if (std::fabs(value) > 9.0e15) return std::nullopt;
    return static_cast<qint64>(value);
}

} // namespace

bool DeckReader::loadLine() {
    if (device_.atEnd()) return false;
    line_ = device_.readLine();
    if (line_.endsWith('\n')) line_.chop(1);
    if (line_.endsWith('\r')) line_.chop(1);
    if (firstLine_ && line_.startsWith("\xEF\xBB\xBF")) line_.remove(0, 3);
    firstLine_ = false;
    column_ = 0;
    haveLine_ = true;
    return true;
}

std::optional<QString> DeckReader::readLine() {
    if (!haveLine_ && !loadLine()) return std::nullopt;
    haveLine_ = false;
    return deckText(line_.mid(column_));
}

std::optional<QByteArray> DeckReader::nextToken() {
    for (;;) {
        if (!haveLine_ && !loadLine()) return std::nullopt;
        while (column_ < line_.size() && isSeparator(line_[column_])) ++column_;
        if (column_ < line_.size()) break;
        haveLine_ = false;
    }
    const qsizetype start = column_;
    while (column_ < line_.size() && !isSeparator(line_[column_])) ++column_;
    return line_.mid(start, column_ - start);
}

std::optional<qint64> DeckReader::readInteger() {
    const auto token = nextToken();
    return token ? wholeNumber(*token) : std::nullopt;
}

std::optional<double> DeckReader::readNumber() {
    auto token = nextToken();
    if (!token) return std::nullopt;
    bool ok = false;
    const double value = token->replace('D', 'E').replace('d', 'e').toDouble(&ok);
    if (!ok || !std::isfinite(value)) return std::nullopt;
    return value;
}

qsizetype DeckReader::valuesLeftOnLine() {
    if (!haveLine_) return 0;
    qsizetype count = 0;
    bool inValue = false;
    for (qsizetype i = column_; i < line_.size(); ++i) {
        const bool separator = isSeparator(line_[i]);
        if (!separator && !inValue) ++count;
        inValue = !separator;
    }
    return count;
}

QString deckText(const QByteArray& bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString text = utf8.decode(bytes);
    return utf8.hasError() ? QString::fromLatin1(bytes) : text;
}

} // namespace oruk
