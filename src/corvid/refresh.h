// The records from the supplicant, replaced whole: a failed fetch ends the
// program.  The lists are also sorted, filtered by their table's search
// text, and their selection kept within the new count.
#pragma once

#include "state.h"

void refresh_status(void);
void refresh_known(void);
void refresh_scan(void);
void refresh_table(section_id s);
