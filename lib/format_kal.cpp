#include "format_kal.h"
