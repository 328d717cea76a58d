// A CSV table as read from a file: the header names, the records as text fields, and the
// physical line where every record (and every field of a record that spans several lines)
// starts, so that every later complaint about a cell can name its line and column.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace csvio {

// A record's fields in one buffer: their texts one after another, and where each ends. (A string
// per field costs 32 bytes and often a heap block: at 10^6 records of 30 fields, a gigabyte.)
class Fields {
  public:
    Fields() = default;
    Fields(std::initializer_list<std::string_view> fields) {
        for (std::string_view f : fields) push_back(f);
    }
    // Throws std::length_error beyond 4 GB of text in one record.
    void push_back(std::string_view field);
    void clear() {
        text_.clear();
        ends_.clear();
    }
    std::size_t size() const { return ends_.size(); }
    bool empty() const { return ends_.empty(); }
    std::string_view operator[](std::size_t i) const {
        const std::size_t from = i == 0 ? 0 : ends_[i - 1];
        return std::string_view(text_).substr(from, ends_[i] - from);
    }
    bool operator==(const Fields& other) const = default;

  private:
    std::string text_;
    std::vector<std::uint32_t> ends_;
};

struct Record {
    int line = 0;                // physical line (1-based) where the record starts
    Fields fields;               // as read: quotes removed, not trimmed
    std::vector<int> fieldLines; // line where each field starts; empty when all start on line
};

struct Table {
    std::string program; // names the program in messages ("travik")
    std::string label;   // names the file in messages, as the user gave it ("data/survey.csv")
    int headerLine = 1;
    char delimiter = ',';            // the field separator read with
    bool delimiterDetected = false;  // found from the header rather than given
    std::vector<std::string> header; // column names, trimmed of blanks
    std::vector<Record> records;

    // The line where field `column` (0-based) of record `record` starts.
    int lineOf(std::size_t record, std::size_t column) const;
};

// Throws latent::InputError "PROGRAM: FILE line L, column C ("NAME"): WHAT"; column is 0-based
// and the header name is added when the header has that column.
[[noreturn]] void failAt(const Table& table, int line, std::size_t column, const std::string& what);
// Throws "PROGRAM: FILE line L: WHAT" (no column applies).
[[noreturn]] void failAtLine(const Table& table, int line, const std::string& what);
// Throws "PROGRAM: FILE: WHAT" (about the file as a whole).
[[noreturn]] void failInFile(const Table& table, const std::string& what);

// The separator as words: "commas", "semicolons", "tabs".
std::string delimiterName(char delimiter);
// The report's legend line about the separator: "  FIELDS SEPARATED BY SEMICOLONS (DETECTED
// FROM THE HEADER)".
std::string dialectLegend(const Table& table);

// The 0-based column of `name`. A name the header lacks, or holds twice, is an InputError;
// role says what the column was named for ("a binary item") in that message.
std::size_t columnIndex(const Table& table, std::string_view name, std::string_view role);

// A value as it is quoted in a message: in double quotes, cut to 40 characters, with line
// breaks and other control characters shown as '?'.
std::string inQuotes(std::string_view text);

} // namespace csvio
