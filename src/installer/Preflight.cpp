#include "installer/InstallerCore.h"
