#include "util/uSingleton.h"
