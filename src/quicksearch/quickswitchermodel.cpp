#include "quicksearch/quickswitchermodel.h"
