// Free-format reading of input decks: numbers separated by blanks, tabs, commas or line ends.
// Every read starts on a new line, may continue over several lines and ignores what is left
// on the last line it used. Carriage returns before line ends and a UTF-8 byte-order mark at
// the start are ignored, so decks made on Windows read the same.
#pragma once

#include "latent/input_error.hpp"

#include <cstddef>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace fixedio {

// A token or text as messages quote it: in double quotes, cut after 40 bytes, with bytes that
// are no printable text (control bytes, NUL, broken UTF-8) written as \xNN.
std::string shownText(std::string_view text);

// The first width bytes of a title line, never cutting a UTF-8 character, padded with blanks
// to width bytes.
std::string fixedWidthTitle(std::string_view line, std::size_t width);

struct Token {
    std::string_view text;
    int line = 0;
};

class FreeReader {
  public:
    // program and label name the source in messages ("travik", "LAT.INP").
    FreeReader(std::string program, std::string label, std::string content);

    // Reads a whole file; a file that cannot be read is an InputError.
    static FreeReader fromFile(std::string program, const std::filesystem::path& path,
                               std::string label);
    // The text of a file, read as fromFile does.
    static std::string fileContent(const std::string& program, const std::filesystem::path& path,
                                   const std::string& label);

    // The next whole line without its line end. At the end of the file: InputError.
    std::string readLine();

    // The next n values as tokens, starting on a new line.
    std::vector<Token> readValues(std::size_t n, std::string_view what = "values");
    std::vector<int> readInts(std::size_t n, std::string_view what = "values");
    std::vector<double> readReals(std::size_t n, std::string_view what = "values");

    int toInt(const Token& token) const;
    double toReal(const Token& token) const;

    // The number of lines used so far (the line a message about the last read refers to).
    int linesRead() const { return line_; }
    // The text of that line, without its line end.
    std::string_view lastLine() const { return lastLine_; }
    bool atEnd() const { return pos_ >= content_.size(); }
    std::size_t size() const { return content_.size(); } // bytes of the whole text

    [[noreturn]] void fail(int line, const std::string& what) const;

  private:
    std::string program_;
    std::string label_;
    std::string content_;
    std::size_t pos_ = 0;
    int line_ = 0;
    std::string_view lastLine_;

    bool nextLine(std::string_view& line);
};

} // namespace fixedio
