#include "staging/staging_apply.h"
