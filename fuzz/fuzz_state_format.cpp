// The state file reader: any text either fails cleanly or reads into records
// whose rendering reads back to the same records and renders identically.

#include "store/state_format.hpp"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kelvo::store;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    auto read = parse_state(text);
    if (!read)
        return 0;
    auto rendered = render_state(read->data);
    if (!rendered)
        std::abort(); // everything read was valid UTF-8, so it must render
    auto again = parse_state(*rendered);
    if (!again || again->stored_version != kSchemaVersion || !(again->data == read->data))
        std::abort();
    auto rerendered = render_state(again->data);
    if (!rerendered || *rerendered != *rendered)
        std::abort();
    return 0;
}
