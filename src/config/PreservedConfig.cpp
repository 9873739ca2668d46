#include "config/PreservedConfig.h"
