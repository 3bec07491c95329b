#pragma once

// Shared by the operations that turn an answer's array into owned records.

#include "json/Json.h"
#include "json/RecordFromJson.h"

#include <memory>
#include <vector>

// Each element is serialised back to JSON text and mapped from that text, so the records hold
// copies and never refer to the parsed answer. A failing element fails the whole call; the
// records appended before it stay in `list`, which the caller is about to release.
template <class TRecord>
void AppendRecordsFromArray(const TJSONArray& array, std::vector<std::unique_ptr<TRecord>>& list)
{
    list.reserve(list.size() + array.Count());
    for (const auto& item : array.Items())
        list.push_back(RecordFromJson<TRecord>(ToJsonText(*item)));
}
