#include "setup/SetupModel.h"
