// `korax catalog`: what KORAX understood of a line catalogue, as a table, or an
// assignment file against its new predictions.
#include "batch/batch.h"

#include "catalog/catalog_table.h"
#include "catalog/lin_compare.h"

#include <iostream>

namespace korax {

int batch_catalog(const std::string& path, double from, double to) {
    return write_catalog_table(path, from, to, std::cout, std::cerr);
}

int batch_catalog_lin(const std::string& lin, const std::string& path) {
    return write_comparison_table(lin, path, std::cout, std::cerr);
}

} // namespace korax
