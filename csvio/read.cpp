// libcsv does the quoting rules; this file adds what libcsv does not know: physical line
// numbers. The content is handed to the parser one physical line (up to and including its LF)
// at a time, so the parser callbacks always know the line they are on. A line that holds
// anything but blanks while no record is open starts a record there; a field starts on the
// line where the field before it ended. Errors found inside the callbacks are recorded and
// thrown only after the parser returns: no exception crosses the C library.
#include "csvio/read.hpp"

#include "latent/input_error.hpp"

#include <csv.h>

#include <fstream>
#include <iterator>
#include <optional>

namespace csvio {

namespace {

struct PendingError {
    int line = 0;
    std::size_t column = 0;
    std::string what;
};

struct ParseState {
    Table* table = nullptr;
    bool haveHeader = false;
    int line = 0;      // the physical line being parsed
    bool open = false; // a record has started and not yet ended
    int fieldLine = 0; // where the next field starts
    Record record;
    std::optional<PendingError> error;

    void fail(int at, std::size_t column, std::string what) {
        if (!error) error = PendingError{at, column, std::move(what)};
    }
};

std::string trimmedName(std::string_view s) {
    std::size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
    return std::string(s.substr(b, e - b));
}

// Line breaks inside quoted fields read as LF alone, whatever the file's line ends.
std::string withLineFeeds(std::string_view field) {
    std::string out;
    out.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i)
        if (!(field[i] == '\r' && i + 1 < field.size() && field[i + 1] == '\n')) out += field[i];
    return out;
}

void onField(void* data, std::size_t size, void* context) {
    auto& s = *static_cast<ParseState*>(context);
    if (s.error) return;
    if (!s.open) {
        // Only a carriage return with no line feed after it ends a record inside a line.
        s.fail(s.line, s.record.fields.size(),
               "a carriage return (CR) without a line feed ends a line here; save the file with "
               "LF or CRLF line ends");
        return;
    }
    const std::string_view field =
        data ? std::string_view(static_cast<const char*>(data), size) : std::string_view();
    if (field.find("\r\n") == std::string_view::npos)
        s.record.fields.push_back(field);
    else
        s.record.fields.push_back(withLineFeeds(field));
    if (s.fieldLine != s.record.line && s.record.fieldLines.empty())
        s.record.fieldLines.assign(s.record.fields.size() - 1, s.record.line);
    if (!s.record.fieldLines.empty() || s.fieldLine != s.record.line)
        s.record.fieldLines.push_back(s.fieldLine);
    s.fieldLine = s.line;
}

void takeHeader(ParseState& s) {
    Table& t = *s.table;
    t.headerLine = s.record.line;
    for (std::size_t i = 0; i < s.record.fields.size(); ++i) {
        std::string name = trimmedName(s.record.fields[i]);
        if (name.empty()) {
            const int at = i < s.record.fieldLines.size() ? s.record.fieldLines[i] : s.record.line;
            s.fail(at, i, "the column has no name; every column needs a name in the header row");
            return;
        }
        t.header.push_back(std::move(name));
    }
}

void checkWidth(ParseState& s) {
    const std::size_t width = s.table->header.size();
    const Record& r = s.record;
    if (r.fields.size() > width) {
        const int at = width < r.fieldLines.size() ? r.fieldLines[width] : r.line;
        s.fail(at, width,
               "the record has " + std::to_string(r.fields.size()) + " fields, the header " +
                   std::to_string(width) + "; quote values that hold " +
                   delimiterName(s.table->delimiter));
    } else if (r.fields.size() < width) {
        s.fail(s.line, r.fields.size(),
               "the record ends after " + std::to_string(r.fields.size()) + " of " +
                   std::to_string(width) + " fields");
    }
}

void onRecordEnd(int, void* context) {
    auto& s = *static_cast<ParseState*>(context);
    if (s.error) return;
    s.open = false;
    if (!s.haveHeader) {
        s.haveHeader = true;
        takeHeader(s);
    } else {
        checkWidth(s);
        // A copy holds just its text; the parse record keeps its buffers for the next one.
        if (!s.error) s.table->records.push_back(s.record);
    }
    s.record.line = 0;
    s.record.fields.clear();
    s.record.fieldLines.clear();
}

int isSpaceOnly(unsigned char c) {
    return c == ' ' ? CSV_SPACE : 0;
}

class Parser {
  public:
    explicit Parser(char delimiter) {
        if (csv_init(&p_, CSV_STRICT | CSV_STRICT_FINI) != 0)
            throw latent::InputError("cannot start the CSV parser: out of memory");
        csv_set_delim(&p_, static_cast<unsigned char>(delimiter));
        // A tab separates fields; it is no longer a blank to trim around them.
        if (delimiter == '\t') csv_set_space_func(&p_, isSpaceOnly);
    }
    ~Parser() { csv_free(&p_); }
    Parser(const Parser&) = delete;
    Parser& operator=(const Parser&) = delete;

    // Returns false when the parser stopped on malformed input.
    bool parse(std::string_view chunk, ParseState& s) {
        return csv_parse(&p_, chunk.data(), chunk.size(), onField, onRecordEnd, &s) == chunk.size();
    }
    bool finish(ParseState& s) { return csv_fini(&p_, onField, onRecordEnd, &s) == 0; }
    int error() { return csv_error(&p_); }

  private:
    csv_parser p_{};
};

[[noreturn]] void throwPending(const Table& t, const PendingError& e) {
    failAt(t, e.line, e.column, e.what);
}

const char* const kStrayQuote =
    "a stray quote character; a value that holds quotes must be quoted as a whole, with each "
    "quote inside doubled (\"\")";

std::string_view firstFilledLine(std::string_view text) {
    while (!text.empty()) {
        const std::size_t lf = text.find('\n');
        const std::string_view line = text.substr(0, lf);
        if (line.find_first_not_of(" \t\r") != std::string_view::npos) return line;
        if (lf == std::string_view::npos) break;
        text.remove_prefix(lf + 1);
    }
    return {};
}

} // namespace

char detectDelimiter(std::string_view headerLine) {
    std::size_t semicolons = 0, tabs = 0;
    bool quoted = false;
    for (const char c : headerLine) {
        if (c == '"') quoted = !quoted;
        if (quoted) continue;
        if (c == ',') return ',';
        semicolons += c == ';';
        tabs += c == '\t';
    }
    if (semicolons == 0 && tabs == 0) return ',';
    return semicolons >= tabs ? ';' : '\t';
}

Table readCsv(std::string program, std::string label, const std::string& content, char delimiter) {
    Table table;
    table.program = std::move(program);
    table.label = std::move(label);
    ParseState s;
    s.table = &table;

    std::string_view rest(content);
    if (rest.starts_with("\xEF\xBB\xBF")) rest.remove_prefix(3);
    table.delimiterDetected = delimiter == 0;
    table.delimiter = delimiter ? delimiter : detectDelimiter(firstFilledLine(rest));
    Parser parser(table.delimiter);
    while (!rest.empty()) {
        const std::size_t lf = rest.find('\n');
        const std::string_view chunk =
            rest.substr(0, lf == std::string_view::npos ? rest.size() : lf + 1);
        rest.remove_prefix(chunk.size());
        ++s.line;
        if (!s.open && chunk.find_first_not_of(" \t\r\n") != std::string_view::npos) {
            s.open = true;
            s.record.line = s.fieldLine = s.line;
        }
        const bool parsed = parser.parse(chunk, s);
        if (s.error) throwPending(table, *s.error);
        if (!parsed) {
            if (parser.error() == CSV_EPARSE)
                failAt(table, s.line, s.record.fields.size(), kStrayQuote);
            failAtLine(table, s.line, "the CSV parser ran out of memory");
        }
    }
    const bool wasOpen = s.open;
    const std::size_t column = s.record.fields.size();
    if (!parser.finish(s)) {
        if (wasOpen)
            failAt(table, s.fieldLine, column,
                   "a quoted value is not closed before the end of the file");
        failAtLine(table, s.line, "the CSV parser ran out of memory");
    }
    if (s.error) throwPending(table, *s.error);
    if (!s.haveHeader)
        failAt(table, 1, 0, "the file is empty; a header row with the column names is expected");
    return table;
}

Table readCsvFile(std::string program, const std::filesystem::path& path, char delimiter) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw latent::InputError(program + ": cannot open " + path.string());
    std::string content{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (in.bad()) throw latent::InputError(program + ": cannot read " + path.string());
    return readCsv(std::move(program), path.string(), content, delimiter);
}

} // namespace csvio
