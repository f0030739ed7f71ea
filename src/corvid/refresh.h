// The records from the supplicant, replaced whole: a failed fetch ends the
// program.  The lists are also sorted, filtered by their table's search
// text, and their selection kept within the new count.
#pragma once

#include "state.h"

// What a failed request means, by why it failed.  A terminating signal
// that came while it waited is served now: the program ends as the signal
// ends it.  A daemon whose socket went away is connected to again when a
// socket at the same path answers: attached again, every record fetched
// again, the notification "Reconnected to wpa_supplicant" added, and true
// returned: the caller drops its action (the user sees it did not happen).
// Otherwise false: the caller fails as it would have.
bool request_recover(void);

void refresh_status(void);
void refresh_known(void);
void refresh_scan(void);
void refresh_table(section_id s);
