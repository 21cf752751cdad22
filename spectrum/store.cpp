// The spectrum store and its one instance.
#include "spectrum/store.h"

#include <algorithm>

namespace korax {

void SpectrumHeader::clear() {
    *this = SpectrumHeader{};
    COMENT.fill(' ');
    LAMP.fill(' ');
    SAMPLE.fill(' ');
    NDELAV.fill(' ');
}

SpectrumStore::SpectrumStore()
    : FREQ(STORE_CAPACITY), INTENS(STORE_CAPACITY), ORIGNL(STORE_CAPACITY), WORK(STORE_CAPACITY),
      BASLIN(STORE_CAPACITY) {
    SPHEAD.clear();
}

void SpectrumStore::reset() {
    std::fill(FREQ.begin(), FREQ.end(), 0.0);
    for (auto* a : {&INTENS, &ORIGNL, &WORK, &BASLIN})
        std::fill(a->begin(), a->end(), 0);
    NPTS = 0;
    FSTART = FEND = FSTEP = 0;
    IYMIN = IYMAX = 0;
    FNAME.clear();
    SPHEAD.clear();
}

SpectrumStore& store() {
    static SpectrumStore s;
    return s;
}

} // namespace korax
