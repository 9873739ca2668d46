#include "installer/Deployment.h"

namespace orvek::installer {

const Deployment& Deployment::production() {
    static const Deployment kProduction;
    return kProduction;
}

} // namespace orvek::installer
