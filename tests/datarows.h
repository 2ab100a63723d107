#ifndef DATAROWS_H
#define DATAROWS_H

#include <QtTest>
#include <tuple>
#include <utility>

// Data rows without a line per column: a test names its row type once,
//     using Row = std::tuple<QString, int, bool>;
// its _data function calls addColumns<Row>() and adds rows as usual, and the
// test reads the row with
//     const auto [name, code, confirmed] = fetchRow<Row>();
// Columns are named by their position.
namespace datarows {
inline const char *columnName(std::size_t column)
{
    static const char *const names[] = {"c0", "c1", "c2", "c3", "c4", "c5", "c6", "c7", "c8", "c9"};
    return names[column];
}

template<typename Row, std::size_t... Column>
void addColumns(std::index_sequence<Column...>)
{
    (QTest::addColumn<std::tuple_element_t<Column, Row>>(columnName(Column)), ...);
}

template<typename Row, std::size_t... Column>
Row fetchRow(std::index_sequence<Column...>)
{
    return Row(*static_cast<std::tuple_element_t<Column, Row> *>(
        QTest::qData(columnName(Column), qMetaTypeId<std::tuple_element_t<Column, Row>>()))...);
}
} // namespace datarows

template<typename Row>
void addColumns()
{
    static_assert(std::tuple_size_v<Row> <= 10, "at most ten columns");
    datarows::addColumns<Row>(std::make_index_sequence<std::tuple_size_v<Row>>());
}

template<typename Row>
Row fetchRow()
{
    return datarows::fetchRow<Row>(std::make_index_sequence<std::tuple_size_v<Row>>());
}

#endif // DATAROWS_H
