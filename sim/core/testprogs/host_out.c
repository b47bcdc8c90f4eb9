/* out_char natively: standard output. */
#include <stdio.h>

#include "types.h"

void out_char(char c) { putchar(c); }
