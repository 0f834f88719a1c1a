#pragma once

// The state document's text: the writer's exact layout and the reader's
// version rule, defaults and checks.

#include "core/result.hpp"
#include "store/store_data.hpp"
#include "store/store_error.hpp"

#include <cstdint>
#include <string>
#include <string_view>

namespace kelvo::store {

// Deeper nesting than this is rejected before it can exhaust the stack; the
// document itself never needs more than a handful of levels.
inline constexpr std::size_t kMaxJsonDepth = 512;

// The document as JSON text: two-space indentation, members in declared
// order, no final line break. Fails with StoreError::Json "path contains
// invalid UTF-8 characters" when a path is not UTF-8.
Result<std::string, StoreError> render_state(const StoreData& data);

struct ReadState {
    StoreData data;               // schema_version is always kSchemaVersion
    std::uint64_t stored_version; // 0 to kSchemaVersion
};

// Reads a document of schema 0 to kSchemaVersion (no version means 0).
// A newer version is StoreError::UnsupportedSchema, decided before any
// record is read; every other fault is StoreError::Json.
Result<ReadState, StoreError> parse_state(std::string_view text);

} // namespace kelvo::store
