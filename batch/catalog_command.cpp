// `korax catalog`: what KORAX understood of a line catalogue.
#include "batch/batch.h"

#include <iostream>

namespace korax {

int batch_catalog(const std::string& path, double from, double to) {
    (void)path;
    (void)from;
    (void)to;
    std::cerr << "korax catalog: line catalogues are not available in this build\n";
    return 1;
}

} // namespace korax
