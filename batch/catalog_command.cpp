// `korax catalog`: what KORAX understood of a line catalogue, as a table.
#include "batch/batch.h"

#include "catalog/catalog_table.h"

#include <iostream>

namespace korax {

int batch_catalog(const std::string& path, double from, double to) {
    return write_catalog_table(path, from, to, std::cout, std::cerr);
}

} // namespace korax
