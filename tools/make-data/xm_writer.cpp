#include "data_set.h"
