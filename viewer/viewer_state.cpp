// The one piece of viewer state that lives for the whole run: the cursor
// position the "," key remembers. Everything else is made afresh per entry.
#include "viewer/viewer_state.h"

namespace korax {

double& FMEMO() {
    static double memo = 0.0;
    return memo;
}

} // namespace korax
