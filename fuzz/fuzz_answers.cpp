// Typed answers: every reader must give a value or a clean "unreadable", never
// read past the line or overflow while converting.
#include "window/answer.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view line(reinterpret_cast<const char*>(data), size);
    for (int width : {2, 5, 15, 20}) {
        (void)korax::read_int<std::int16_t>(line, width);
        (void)korax::read_int<std::int32_t>(line, width);
        (void)korax::read_real(line, width);
        (void)korax::read_real32(line, width);
    }
    (void)korax::read_free_reals(line, 1);
    (void)korax::read_free_reals(line, 2);
    return 0;
}
