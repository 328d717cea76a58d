#include "csvio/columns.hpp"

#include <map>

namespace csvio {

std::vector<std::vector<std::size_t>> pickColumns(const Table& table,
                                                  const std::vector<ColumnList>& lists) {
    std::vector<std::vector<std::size_t>> picked;
    std::map<std::size_t, const std::string*> roleOf; // column -> the role it was first named for
    for (const ColumnList& list : lists) {
        std::vector<std::size_t>& columns = picked.emplace_back();
        for (const std::string& name : list.names) {
            const std::size_t column = columnIndex(table, name, list.role);
            const auto [it, fresh] = roleOf.emplace(column, &list.role);
            if (!fresh) {
                const bool sameRole = *it->second == list.role;
                failAt(table, table.headerLine, column,
                       sameRole ? "the column is named twice as " + list.role
                                : "the column is named twice, as " + *it->second + " and as " +
                                      list.role);
            }
            columns.push_back(column);
        }
    }
    return picked;
}

} // namespace csvio
