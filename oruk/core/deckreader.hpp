// Reads an input deck the way the estimators do: whole lines, or free-format values separated
// by blanks, tabs, commas or line ends, where a value read may go on to later lines.
#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QString>

#include <optional>

namespace oruk {

class DeckReader {
  public:
    // The device must be open for reading and outlive the reader.
    explicit DeckReader(QIODevice& device) : device_(device) {}

    // The rest of the current line (all of the next line when none is started); the line end
    // is consumed. Empty at the end of the file.
    std::optional<QString> readLine();

    // The next free-format value as an integer. Empty at the end of the file, and for a value
    // that is not a whole number. The line end after the value is left for readLine.
    std::optional<qint64> readInteger();

    // The next free-format value as a real number ("1e-4", "1.0D-4"). Empty at the end of
    // the file and for a value that is not a number.
    std::optional<double> readNumber();

    // The number of free-format values left on the current line, none of them consumed.
    qsizetype valuesLeftOnLine();

  private:
    bool loadLine();
    // The next value's text, reading on to later lines; empty at the end of the file.
    std::optional<QByteArray> nextToken();

    QIODevice& device_;
    QByteArray line_;
    qsizetype column_ = 0;
    bool haveLine_ = false;
    bool firstLine_ = true;
};

// Text of a deck line: UTF-8 when it is valid UTF-8, otherwise Latin-1 (decks made on Windows).
QString deckText(const QByteArray& bytes);

} // namespace oruk
