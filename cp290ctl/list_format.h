#pragma once
// cp290ctl list: the events of a table as text (a column per field, the
// device names last), CSV or JSON, times in 24 hours.
//
// JSON: an array of objects {"event": 3, "time": "18:05", "days": ["Mon", ...],
// "house": "A", "units": [1, 3], "function": "on" | "off" | "dim",
// "level": 0..15, "mode": "normal" | "security", "names": ["Porch lamp", ...]}.
#include <optional>
#include <string>

#include "core/event_table.h"

namespace cli {

enum class ListFormat { Text, Csv, Json };

// "text", "csv", "json"; nullopt for anything else.
std::optional<ListFormat> listFormat(const std::string& name);

// The used events of `table` in `format`, ending with a newline.
std::string formatEvents(const core::EventTable& table, ListFormat format);

}  // namespace cli
