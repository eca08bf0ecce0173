// What a column holds, at a glance: the statistics box of the current column
// and the frequency list of its values (of the combinations of values, with
// a block of columns marked), from which a value filters the table.
#pragma once

namespace kora {

constexpr int kColumnStatsHelp = 80;
constexpr int kFrequencyHelp = 81;

// Alt+F5, View "Column s&tatistics": the box; Enter there opens the list.
void column_stats_command();
// View "Value &frequencies": the list at once.
void value_frequencies_command();

}  // namespace kora
