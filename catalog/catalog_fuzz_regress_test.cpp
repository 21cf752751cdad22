// A catalogue line whose quantum-number field holds a tab and a NUL: the field
// cannot be decoded and is shown as given, and the identification row carried
// the control bytes into the text grid, where they do not take one cell each.
#include "catalog/catalog.h"
#include "catalog/overlay.h"

#include <gtest/gtest.h>

#include <string>

namespace korax {
namespace {

TEST(CatalogFuzzRegress, ControlBytesInQuantumNumbersAreNotShown) {
    const std::string line =
        std::string("    1000.0000  0.0100 -3.0000 3    1.0000  7  99001 303") +
        std::string(" 3\t1\0002       2 1 1      ", 24);
    auto r = parse_catalog_line(line);
    ASSERT_TRUE(r);
    PredictedLine l;
    l.freq = r->freq;
    l.qn_text = r->qn_text;
    l.qnfmt = static_cast<std::int16_t>(r->qnfmt);
    EXPECT_FALSE(quantum_numbers(l).ok);
    EXPECT_EQ("3 ?1 ?2 <- 2 1 1", quantum_number_text(l));
    Catalog c;
    c.set_lines({l}, {""});
    CatalogSession s;
    s.add(c);
    for (char ch : identification_row(s, {0, 0}, std::nullopt))
        EXPECT_GE(static_cast<unsigned char>(ch), 0x20);
}

} // namespace
} // namespace korax
