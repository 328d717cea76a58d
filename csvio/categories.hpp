// Category numbers for a column of category answers (nominal, ordinal or polytomous items).
// The distinct values of the column, missing tokens aside, become categories 1..C in this
// order:
//  - the order the user gives for the column (--levels COL=a,b,c), when given: every value must
//    be one of those labels, and a label nobody gave is still a category;
//  - ascending numeric order when every value is a number ("2" and "2.0" are one category);
//  - otherwise, for text, by bytes ("Apple" < "apple" < "banana") or in the order of first
//    appearance, as the estimator chooses.
// Values are compared trimmed of surrounding blanks, like every cell.
#pragma once

#include "csvio/table.hpp"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace csvio {

// The order of a column's categories as the user gives it.
struct LevelOrder {
    std::string column;
    std::vector<std::string> labels;
};

// Parses "COL=a,b,c": the column name and the labels, each trimmed of blanks. Returns the
// fault in words ("a label is empty in ...") instead when the text is not such a list: no '=',
// an empty column name, an empty or repeated label, or fewer than 2 labels.
struct LevelParse {
    LevelOrder order;
    std::string fault; // empty when parsed
};
LevelParse parseLevelOrder(std::string_view text);

// The given order for a column, or nullptr.
const std::vector<std::string>* levelsOf(const std::vector<LevelOrder>& orders,
                                         std::string_view column);

// A --levels column that is not among the columns that take categories is an InputError
// naming it and saying which columns do (kinds: "a nominal or ordinal item").
void checkLevelColumns(const Table& table, const std::vector<LevelOrder>& orders,
                       const std::vector<std::size_t>& categoryColumns, std::string_view kinds);

enum class TextOrder { Bytes, FirstAppearance };

struct CategoryRule {
    bool numbersOnly = false;                         // text is an error (ordinal items)
    const std::vector<std::string>* levels = nullptr; // the user's order, when given
    TextOrder textOrder = TextOrder::FirstAppearance;
    int most = 50;                     // the largest number of categories an item may have
    std::string_view role = "an item"; // how messages name the item ("an ordinal item")
};

struct CategoryCoding {
    std::vector<std::string> labels; // labels[c - 1]: category c, as first written (or given)
    std::vector<int> codes;          // per record: its category 1..C, or 0 when missing
};

// Throws latent::InputError naming the cell for text where only numbers are taken or a value
// that is none of the given labels, and naming the column for fewer than 2 or more than
// rule.most categories.
CategoryCoding codeCategories(const Table& table, std::size_t column, const CategoryRule& rule,
                              const std::vector<std::string>& missing);

} // namespace csvio
